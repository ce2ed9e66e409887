# KORVOWAV_VERSION_STRING: the version the programs print. In a git checkout it is what
# `git describe` says (a tag vX.Y.Z stands for X.Y.Z, e.g. 1.0.0-12-gb72bdc9; without a tag,
# the project version, the number of commits and the commit, e.g. 1.0.0-311-gb72bdc9);
# elsewhere, e.g. in a source archive, the project version.
# KORVOWAV_PACKAGE_VERSION is the same in the characters a Debian version allows.
find_package(Git QUIET)
set(KORVOWAV_VERSION_STRING ${PROJECT_VERSION})
if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(
        COMMAND ${GIT_EXECUTABLE} describe --tags --match "v[0-9]*" --always --dirty
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE describeFailed ERROR_QUIET)
    if(NOT describeFailed AND described)
        if(described MATCHES "^v([0-9].*)$")
            set(KORVOWAV_VERSION_STRING ${CMAKE_MATCH_1})
        else()
            # No release tag yet: the commit count keeps later builds' versions higher.
            execute_process(
                COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                OUTPUT_VARIABLE commits OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            set(KORVOWAV_VERSION_STRING ${PROJECT_VERSION}-${commits}-g${described})
        endif()
    endif()
    # Configure again when HEAD moves, so that a new commit shows in the next build.
    execute_process(
        COMMAND ${GIT_EXECUTABLE} rev-parse --git-path HEAD --symbolic-full-name HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE headPaths OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "\n" ";" headPaths "${headPaths}")
    list(LENGTH headPaths headPathCount)
    if(headPathCount EQUAL 2)
        list(GET headPaths 0 headFile)
        list(GET headPaths 1 branchRef)
        execute_process(
            COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${branchRef}
            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
            OUTPUT_VARIABLE branchFile OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        foreach(file ${headFile} ${branchFile})
            get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
            if(EXISTS ${file})
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
            endif()
        endforeach()
    endif()
endif()
string(REGEX REPLACE "[^A-Za-z0-9.+~]" "+" KORVOWAV_PACKAGE_VERSION ${KORVOWAV_VERSION_STRING})
message(STATUS "korvowav version: ${KORVOWAV_VERSION_STRING}")
