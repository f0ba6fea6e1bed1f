# Installation and the Debian package. The installation has the build tree's layout, which is where
# the runner, the library and the agent look for each other:
#   bin/       tarvinrunner, tarvinlaunch, addressbook (the example application, found beside the runner)
#   lib/       libtarvintcl.so, the host libraries, libtarvinagent.so (../lib beside the programs)
#   share/tarvintcl/tcl/  the Tcl support files: the tool's packages and the object map template
#   lib/tcl, scriptmodules/tcl  links to share/tarvintcl/tcl, where the library looks for them
#              ($TARVIN_PREFIX/lib/tcl appended to auto_path, $TARVIN_PREFIX/scriptmodules/tcl)
#   etc/       paths.ini
#   share/tarvintcl/examples/  the example suite
# Every binary finds its libraries through RUNPATH $ORIGIN/../lib, and the runner takes the directory
# above its own bin/ as TARVIN_PREFIX, so the tree works wherever it is put.

install(TARGETS tarvinrunner tarvinlaunch addressbook RUNTIME DESTINATION bin)
install(TARGETS tarvintcl tarvinagent tarvinobjectmodel gherkin tarvininterpreter tarvintest tarvinsw tarvinshared
                tarvinaddressbook
        LIBRARY DESTINATION lib)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/tcl/bdd ${CMAKE_SOURCE_DIR}/tcl/objectmaphelper
        DESTINATION share/tarvintcl/tcl)
install(FILES ${CMAKE_SOURCE_DIR}/tcl/objectmap_template.tcl DESTINATION share/tarvintcl/tcl)
install(FILES ${CMAKE_BINARY_DIR}/lib/tcl DESTINATION lib)                     # the links themselves
install(FILES ${CMAKE_BINARY_DIR}/scriptmodules/tcl DESTINATION scriptmodules)
install(FILES ${CMAKE_BINARY_DIR}/etc/paths.ini DESTINATION etc)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/suite DESTINATION share/tarvintcl/examples)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/ci.md DESTINATION share/doc/tarvintcl)

# cpack -G DEB: a package that installs the tree under /opt/tarvintcl and links the two programs into
# /usr/bin. The dependencies come from dpkg-shlibdeps: libtcl8.6 also holds the Tcl library's scripts
# that paths.ini names, and libqt5gui5 the offscreen platform on which applications under test run.
set(CPACK_PACKAGE_NAME tarvintcl)
set(CPACK_PACKAGE_VENDOR "tarvintcl")
set(CPACK_PACKAGE_CONTACT "tarvintcl maintainers <tarvintcl@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tcl back end of a GUI test automation tool, with its test runner")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/tarvintcl)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
