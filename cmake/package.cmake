# make package (scripts/package.sh) zips each build under the name decided
# here, from the project's version and the word size.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(AMBRELIX_PACKAGE_NAME ambrelix-${PROJECT_VERSION}-win64)
else()
    set(AMBRELIX_PACKAGE_NAME ambrelix-${PROJECT_VERSION}-win32)
endif()
file(WRITE ${CMAKE_BINARY_DIR}/package-name.txt "${AMBRELIX_PACKAGE_NAME}\n")
