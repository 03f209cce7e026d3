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
