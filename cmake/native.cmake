# The portable core built natively, with AddressSanitizer and UBSan.
set(SAN -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_compile_options(-Wall -Wextra -g ${SAN})
add_link_options(${SAN})

add_library(quillet_portable STATIC ${QUILLET_PORTABLE_SOURCES})
target_include_directories(quillet_portable PUBLIC ${PROJECT_SOURCE_DIR}/src)
# The system's libpng and libjpeg-turbo (libpng-dev, libjpeg62-turbo-dev).
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
target_link_libraries(quillet_portable PUBLIC PNG::PNG JPEG::JPEG)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(native_tests PRIVATE quillet_portable gtest_main)
# The decoder tests read libpng's and libjpeg-turbo's own test images from the
# sources that scripts/setup.sh unpacks.
set(QUILLET_DEPS_SRC "${PROJECT_SOURCE_DIR}/build/deps/src" CACHE PATH
    "Unpacked libpng and libjpeg-turbo sources")
target_compile_definitions(native_tests PRIVATE QUILLET_DEPS_SRC="${QUILLET_DEPS_SRC}")

include(GoogleTest)
gtest_discover_tests(native_tests)

# The sync service (server/) with its tests in tests/server.
add_subdirectory(${PROJECT_SOURCE_DIR}/server ${CMAKE_BINARY_DIR}/server)
