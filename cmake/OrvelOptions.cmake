# The build options every library, program and test of ours links: warnings, Qt's safety defines, C++20.
# Headers from the system (Qt, GoogleTest, libxml2) are included as system headers and stay quiet.
option(ORVEL_WERROR "Make warnings in our code errors (CI)" OFF)

add_library(orvel_options INTERFACE)
target_compile_features(orvel_options INTERFACE cxx_std_20)
target_compile_options(orvel_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    $<$<BOOL:${ORVEL_WERROR}>:-Werror>)
target_compile_definitions(orvel_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

# The whole tree with AddressSanitizer and UndefinedBehaviorSanitizer (.ci/run builds build-asan so); any report ends
# the program that made it.
option(ORVEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# The libFuzzer targets in tests/fuzz (clang only); every library gets the fuzzer's coverage and both sanitizers.
option(ORVEL_FUZZ "Build the fuzz targets with libFuzzer (clang)" OFF)
if(ORVEL_SANITIZE OR ORVEL_FUZZ)
    set(sanitizers address,undefined)
    target_compile_options(orvel_options INTERFACE -fsanitize=${sanitizers} -fno-sanitize-recover=all
                           -fno-omit-frame-pointer $<$<BOOL:${ORVEL_FUZZ}>:-fsanitize=fuzzer-no-link>)
    target_link_options(orvel_options INTERFACE -fsanitize=${sanitizers})
endif()
if(ORVEL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVEL_FUZZ needs clang (CXX=clang++)")
endif()

# A target that links Qt, directly or through a layer that does, gets moc and uic (Designer forms) without listing
# generated files.
function(orvel_qt_target target)
    set(qt OFF)
    foreach(used ${ARGN})
        if(used MATCHES "^Qt6::")
            set(qt ON)
        elseif(TARGET ${used})
            get_target_property(used_qt ${used} AUTOMOC)
            if(used_qt)
                set(qt ON)
            endif()
        endif()
    endforeach()
    if(qt)
        set_target_properties(${target} PROPERTIES AUTOMOC ON AUTOUIC ON)
    endif()
endfunction()
