# The portable core built natively, with AddressSanitizer and UBSan.
set(SAN -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_compile_options(-Wall -Wextra -g ${SAN})
add_link_options(${SAN})

add_library(quillet_portable STATIC ${QUILLET_PORTABLE_SOURCES})
target_include_directories(quillet_portable PUBLIC ${PROJECT_SOURCE_DIR}/src)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(native_tests PRIVATE quillet_portable gtest_main)

include(GoogleTest)
gtest_discover_tests(native_tests)
