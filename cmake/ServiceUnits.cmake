# Runs at install time: the service unit names the service's installed path, and cpack installs under /usr while a
# plain cmake --install uses the prefix it is given. Expects ORVEL_PACKAGING (the packaging folder), ORVEL_STAGE (a
# folder of the build tree) and ORVEL_BINDIR.
foreach(program service check)
    set(command "${CMAKE_INSTALL_PREFIX}/${ORVEL_BINDIR}/orvelwddx-${program}")
    # systemd splits a command line at blanks unless the path is quoted.
    if(command MATCHES "[ \t\"\\\\]")
        string(REPLACE "\\" "\\\\" command "${command}")
        string(REPLACE "\"" "\\\"" command "${command}")
        set(command "\"${command}\"")
    endif()
    string(TOUPPER "${program}" name)
    set(ORVEL_${name}_COMMAND "${command}")
endforeach()
configure_file("${ORVEL_PACKAGING}/orvelwddx-service.service.in" "${ORVEL_STAGE}/orvelwddx-service.service" @ONLY)
# The hourly timer that asks again for every user's pending VAT confirmations.
configure_file("${ORVEL_PACKAGING}/orvelwddx-retry.service.in" "${ORVEL_STAGE}/orvelwddx-retry.service" @ONLY)
file(INSTALL "${ORVEL_PACKAGING}/orvelwddx-service.socket" "${ORVEL_STAGE}/orvelwddx-service.service"
     "${ORVEL_STAGE}/orvelwddx-retry.service" "${ORVEL_PACKAGING}/orvelwddx-retry.timer"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
file(INSTALL "${ORVEL_PACKAGING}/80-orvelwddx.preset" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user-preset")
# The system timer that keeps /var/lib/orvelwddx current for every user.
configure_file("${ORVEL_PACKAGING}/orvelwddx-update-data.service.in" "${ORVEL_STAGE}/orvelwddx-update-data.service"
               @ONLY)
file(INSTALL "${ORVEL_STAGE}/orvelwddx-update-data.service" "${ORVEL_PACKAGING}/orvelwddx-update-data.timer"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
