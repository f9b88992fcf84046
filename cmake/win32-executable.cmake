# The Windows executable: GUI subsystem, our own manifest only, no DLL beyond
# the system's, and the same bytes from every clean build.
enable_language(RC)

add_executable(ambrelix WIN32 ${AMBRELIX_SOURCES} resources/ambrelix.rc)
target_include_directories(ambrelix PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(ambrelix PRIVATE ambrelix_warnings user32 gdi32)

if(MSVC)
    target_link_options(ambrelix PRIVATE /MANIFEST:NO /DYNAMICBASE /NXCOMPAT /TSAWARE /Brepro)
    target_compile_options(ambrelix PRIVATE /Brepro)
else()
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        # 5.2 is the oldest x64 Windows.
        set(ambrelix_os_version 5.2)
        set(ambrelix_arch_flags -Wl,--high-entropy-va)
    else()
        set(ambrelix_os_version 5.1)
        set(ambrelix_arch_flags)
    endif()
    string(REPLACE "." ";" ambrelix_os_parts ${ambrelix_os_version})
    list(GET ambrelix_os_parts 0 ambrelix_os_major)
    list(GET ambrelix_os_parts 1 ambrelix_os_minor)
    target_compile_options(ambrelix PRIVATE
        -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
    target_link_options(ambrelix PRIVATE
        -static-libgcc -static-libstdc++ -s
        -Wl,--subsystem,windows:${ambrelix_os_version}
        -Wl,--major-os-version,${ambrelix_os_major},--minor-os-version,${ambrelix_os_minor}
        -Wl,--dynamicbase,--nxcompat,--tsaware,--no-insert-timestamp
        ${ambrelix_arch_flags})
endif()
