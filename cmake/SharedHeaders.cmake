# Precompiled headers, compiled once per kind of code and reused by every target of that kind:
# console code (Qt Core), Widgets code, and the test suites of each. Parsing Qt's headers was
# most of the time of most compiles here (a test suite spends 2 to 4 s in them).
#
# A target's kind follows from what it links, directly or through the project's libraries, so a
# new target gets its headers without a line of its own. Targets that link no Qt get none. Every
# reuse is checked by the compiler: CMake compiles with -Winvalid-pch, an error under -Werror,
# so a header set that does not fit a target fails the build instead of silently not counting.

find_package(Qt6 REQUIRED COMPONENTS Core Widgets Network)

set(meterlog_console_headers
    <QByteArray> <QDateTime> <QList> <QObject> <QString> <QStringList> <QTimer>
    <algorithm> <array> <chrono> <cstdint> <functional> <map> <memory> <optional> <string>
    <vector>)
set(meterlog_widgets_headers ${meterlog_console_headers}
    <QApplication> <QCheckBox> <QComboBox> <QLabel> <QLineEdit> <QPushButton> <QWidget>)
set(meterlog_test_headers <QSignalSpy> <QTemporaryDir> <QTest>)

# Sets `out` to every target that `target` links, directly or through other targets.
function(meterlog_linked_targets target out)
    set(seen)
    set(pending ${target})
    while(pending)
        list(POP_FRONT pending current)
        get_target_property(type ${current} TYPE)
        set(links)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${current} LINK_LIBRARIES)
            if(direct)
                list(APPEND links ${direct})
            endif()
        endif()
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        if(interface)
            list(APPEND links ${interface})
        endif()
        foreach(link IN LISTS links)
            # Targets linked from another folder carry that folder's tag: "name::@(dir)".
            # Qt's targets are known only in the folders that look for them: their names count
            # wherever they are linked, and only the project's own targets are followed.
            string(REGEX REPLACE "::@.*$" "" link "${link}")
            if(NOT link IN_LIST seen)
                list(APPEND seen ${link})
                if(TARGET ${link})
                    list(APPEND pending ${link})
                endif()
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(meterlog_targets_in directory out)
    get_directory_property(targets DIRECTORY ${directory} BUILDSYSTEM_TARGETS)
    get_directory_property(subdirectories DIRECTORY ${directory} SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        meterlog_targets_in(${subdirectory} below)
        list(APPEND targets ${below})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Qt Test defines the target's own build and source folders, for QFINDTESTDATA, and its headers
# test them: a definition that differs from suite to suite would keep the suites from sharing the
# headers. No suite looks for test data that way, so the definitions go.
function(meterlog_share_test_folders target)
    target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
endfunction()

# The target that compiles the headers `name` stands for, made when first asked for: Qt Test's
# headers include parts of their own for each of Gui, Widgets and Network that the target links,
# so suites with and without Network cannot share them.
function(meterlog_header_owner name qt_libraries headers)
    if(TARGET ${name})
        return()
    endif()
    set(stub ${CMAKE_BINARY_DIR}/${name}.cpp)
    file(CONFIGURE OUTPUT ${stub} CONTENT "// Compiles ${name}, the precompiled headers.\n")
    add_library(${name} OBJECT ${stub})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    target_link_libraries(${name} PRIVATE ${qt_libraries})
    target_precompile_headers(${name} PRIVATE ${headers})
    if(Qt6::Test IN_LIST qt_libraries)
        meterlog_share_test_folders(${name})
    endif()
endfunction()

# Call once, after every target is defined.
function(meterlog_share_precompiled_headers)
    meterlog_targets_in(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY)$")
            continue()
        endif()
        meterlog_linked_targets(${target} linked)
        if(Qt6::Widgets IN_LIST linked)
            set(owner meterlog_widgets_headers)
            set(qt_libraries Qt6::Widgets)
            set(headers ${meterlog_widgets_headers})
        elseif(Qt6::Core IN_LIST linked)
            set(owner meterlog_console_headers)
            set(qt_libraries Qt6::Core)
            set(headers ${meterlog_console_headers})
        else()
            continue()
        endif()
        if(Qt6::Test IN_LIST linked)
            string(APPEND owner _test)
            list(APPEND qt_libraries Qt6::Test)
            list(APPEND headers ${meterlog_test_headers})
            if(Qt6::Network IN_LIST linked)
                string(APPEND owner _network)
                list(APPEND qt_libraries Qt6::Network)
            endif()
            meterlog_share_test_folders(${target})
        endif()
        meterlog_header_owner(${owner} "${qt_libraries}" "${headers}")
        target_precompile_headers(${target} REUSE_FROM ${owner})
    endforeach()
endfunction()
