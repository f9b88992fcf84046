# ambrelix_image: what every small Windows executable of ours is built with.
# GUI subsystem marked for the oldest Windows of its word size, ASLR, NX and
# terminal-server aware, no DLL beyond the system's, and the same bytes from
# every clean build.
add_library(ambrelix_image INTERFACE)
# Small: no exceptions or RTTI, no compiler banner, unused sections dropped.
target_compile_options(ambrelix_image INTERFACE
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-ident
    -ffunction-sections -fdata-sections
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
target_link_options(ambrelix_image INTERFACE
    -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
    -Wl,--dynamicbase,--nxcompat,--tsaware,--no-insert-timestamp)
# The headers are told the same Windows as the image, so that an API newer
# than it does not compile.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # 5.2 is the oldest x64 Windows.
    target_compile_definitions(ambrelix_image INTERFACE _WIN32_WINNT=0x0502 WINVER=0x0502)
    target_link_options(ambrelix_image INTERFACE
        -Wl,--subsystem,windows:5.2,--major-os-version,5,--minor-os-version,2,--high-entropy-va)
else()
    target_compile_definitions(ambrelix_image INTERFACE _WIN32_WINNT=0x0501 WINVER=0x0501)
    # No code of ours or the runtime's registers a structured exception
    # handler (nothing writes fs:0), so the image says so and Windows will
    # call no handler in it.
    target_link_options(ambrelix_image INTERFACE
        -Wl,--subsystem,windows:5.1,--major-os-version,5,--minor-os-version,1,--no-seh)
endif()
