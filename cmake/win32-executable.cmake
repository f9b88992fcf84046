# The Windows executables: GUI subsystem, our own manifest only, no DLL beyond
# the system's, and the same bytes from every clean build.
enable_language(RC)

function(ambrelix_windows_flags target)
    if(MSVC)
        target_link_options(${target} PRIVATE /DYNAMICBASE /NXCOMPAT /TSAWARE /Brepro)
        target_compile_options(${target} PRIVATE /Brepro)
        return()
    endif()
    # Small: no exceptions or RTTI, no compiler banner, unused sections dropped.
    target_compile_options(${target} PRIVATE
        -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-ident
        -ffunction-sections -fdata-sections
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
    target_link_options(${target} PRIVATE
        -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
        -Wl,--dynamicbase,--nxcompat,--tsaware,--no-insert-timestamp)
endfunction()

function(ambrelix_program target)
    add_executable(${target} WIN32 ${AMBRELIX_SOURCES} ${ARGN} ${PROJECT_SOURCE_DIR}/resources/ambrelix.rc)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE ambrelix_warnings user32 gdi32)
    ambrelix_windows_flags(${target})
    if(MSVC)
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
        # 5.2 is the oldest x64 Windows.
        target_link_options(${target} PRIVATE
            -Wl,--subsystem,windows:5.2,--major-os-version,5,--minor-os-version,2,--high-entropy-va)
    else()
        target_link_options(${target} PRIVATE
            -Wl,--subsystem,windows:5.1,--major-os-version,5,--minor-os-version,1)
    endif()
endfunction()

ambrelix_program(ambrelix)

# make package: a ZIP with the executable and the README, one per word size.
install(TARGETS ambrelix RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(AMBRELIX_PACKAGE_NAME ambrelix-${PROJECT_VERSION}-win64)
else()
    set(AMBRELIX_PACKAGE_NAME ambrelix-${PROJECT_VERSION}-win32)
endif()
set(CPACK_PACKAGE_FILE_NAME ${AMBRELIX_PACKAGE_NAME})
set(CPACK_GENERATOR ZIP)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_VENDOR Ambrelix)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-fixed-times.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-fixed-times.cmake)
include(CPack)
