# The Windows program and its tests, cross-compiled with MinGW-w64.
enable_language(RC)

set(QUILLET_WARNINGS -Wall -Wextra)
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)

# One static library per module, linked only to the modules of the layers
# below it (cmake/layers.txt), so that a call upwards does not link.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
# Static libpng and libjpeg-turbo built by scripts/setup.sh; zlib from MinGW.
set(QUILLET_DEPS "${PROJECT_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32" CACHE PATH
    "Prefix of the static picture libraries")
find_library(PNG_STATIC NAMES libpng16.a PATHS ${QUILLET_DEPS}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_library(JPEG_STATIC NAMES libjpeg.a PATHS ${QUILLET_DEPS}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/layers.txt QUILLET_LAYERS REGEX "^[a-z]+ [0-9]+$")
set(QUILLET_MODULE_LIBRARIES "")
foreach(entry ${QUILLET_LAYERS})
    string(REPLACE " " ";" entry ${entry})
    list(GET entry 0 module)
    list(GET entry 1 layer)
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${module}/*.cpp)
    list(FILTER sources EXCLUDE REGEX "/app/winmain\\.cpp$")
    if(NOT sources)
        continue()
    endif()
    add_library(quillet_${module} STATIC ${sources})
    target_include_directories(quillet_${module} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(quillet_${module} PRIVATE ${QUILLET_WARNINGS})
    foreach(lower ${QUILLET_MODULE_LIBRARIES})
        if(QUILLET_LAYER_${lower} LESS layer)
            target_link_libraries(quillet_${module} PUBLIC quillet_${lower})
        endif()
    endforeach()
    set(QUILLET_LAYER_${module} ${layer})
    list(APPEND QUILLET_MODULE_LIBRARIES ${module})
endforeach()
target_link_libraries(quillet_util PUBLIC comctl32 comdlg32 shell32 advapi32 gdi32 user32 ws2_32)
target_link_libraries(quillet_net PUBLIC secur32 crypt32)
target_include_directories(quillet_viewer SYSTEM PUBLIC ${QUILLET_DEPS}/include)
target_link_libraries(quillet_viewer PUBLIC ${PNG_STATIC} ${JPEG_STATIC} ${ZLIB_STATIC})
# The sealing of cloud clippings: Windows' own AES-GCM and PBKDF2.
target_link_libraries(quillet_cloud PUBLIC bcrypt)
# The whole program below WinMain, for the program, its tests and benchmarks.
add_library(quillet_core INTERFACE)
target_link_libraries(quillet_core INTERFACE quillet_app)

set(QUILLET_RC ${PROJECT_SOURCE_DIR}/src/resources/quillet.rc)
file(GLOB QUILLET_RC_DEPENDS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/resources/*.h
    ${PROJECT_SOURCE_DIR}/src/resources/*.ico ${PROJECT_SOURCE_DIR}/src/resources/*.bmp
    ${PROJECT_SOURCE_DIR}/src/resources/*.manifest)
set_property(SOURCE ${QUILLET_RC} APPEND PROPERTY OBJECT_DEPENDS ${QUILLET_RC_DEPENDS})

add_executable(quillet WIN32 src/app/winmain.cpp ${QUILLET_RC})
target_compile_options(quillet PRIVATE ${QUILLET_WARNINGS})
target_link_libraries(quillet PRIVATE quillet_core)
target_link_options(quillet PRIVATE -static)

# Tests: GoogleTest from Debian's source package, run under Wine.
if(QUILLET_TESTS)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

    file(GLOB QUILLET_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
    add_executable(quillet_tests ${QUILLET_TEST_SOURCES} ${QUILLET_RC})
    target_compile_options(quillet_tests PRIVATE ${QUILLET_WARNINGS})
    target_include_directories(quillet_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win)
    target_link_libraries(quillet_tests PRIVATE quillet_core gtest)
    target_link_options(quillet_tests PRIVATE -static)

    include(GoogleTest)
    gtest_discover_tests(quillet_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 90 RUN_SERIAL TRUE)
endif()

# Benchmarks (bench/, run by scripts/bench.sh); never part of the tests.
if(QUILLET_BENCH)
    file(GLOB QUILLET_BENCH_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
    add_executable(quillet_bench ${QUILLET_BENCH_SOURCES} ${PROJECT_SOURCE_DIR}/tests/win/harness.cpp ${QUILLET_RC})
    target_compile_options(quillet_bench PRIVATE ${QUILLET_WARNINGS})
    target_include_directories(quillet_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/win)
    target_link_libraries(quillet_bench PRIVATE quillet_core psapi ntdll)
    target_link_options(quillet_bench PRIVATE -static)
endif()

include(cmake/help.cmake)
