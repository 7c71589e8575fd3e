# Installing the program (`cmake --install build --prefix P`) and the Debian package
# (`cd build && cpack -G DEB`). Layout under the prefix (docs/install.md):
#   bin/aerosol                         the program (the materials library is compiled in)
#   bin/aerosol-plot, bin/aerosol-sweep launchers of the package's companions
#   lib/python3/dist-packages/aerosol   the Python package (with the compiled module when built)
#   share/man/man1/aerosol.1            the man page, made from the program's --help texts
#   share/doc/aerosol                   README.md, CHANGELOG.md, docs/
#   share/aerosol/examples              the examples, without results written there
include(GNUInstallDirs)

install(TARGETS aerosol RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The Python package: Debian's python3 finds lib/python3/dist-packages under /usr by itself;
# under another prefix the launchers (or PYTHONPATH) point to it.
set(AEROSOL_INSTALL_PYTHONDIR lib/python3/dist-packages CACHE STRING
  "Where the Python package aerosol goes, relative to the installation prefix")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/aerosol DESTINATION ${AEROSOL_INSTALL_PYTHONDIR}
  FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
if(TARGET _aerosol)
  install(TARGETS _aerosol LIBRARY DESTINATION ${AEROSOL_INSTALL_PYTHONDIR}/aerosol)
endif()

# The companions as commands: sh launchers that find the package relative to themselves.
set(launcher_python ${Python3_EXECUTABLE})
if(NOT launcher_python)
  set(launcher_python /usr/bin/python3)
endif()
file(RELATIVE_PATH launcher_python_from_bin /prefix/${CMAKE_INSTALL_BINDIR}
  /prefix/${AEROSOL_INSTALL_PYTHONDIR})
foreach(launcher_name aerosol-plot aerosol-sweep)
  set(launcher_extra "")
  set(launcher_extra_comment "")
  if(launcher_name STREQUAL "aerosol-plot")
    set(launcher_module aerosol.plot)
  else()
    set(launcher_module aerosol.sweep)
    set(launcher_extra_comment "\n# The program beside it is the default program of the runs.")
    set(launcher_extra "
if [ -z \"\${AEROSOL_PROGRAM:-}\" ] && [ -x \"$here/aerosol\" ]; then
  AEROSOL_PROGRAM=\"$here/aerosol\"
  export AEROSOL_PROGRAM
fi")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/launcher.in
    ${CMAKE_BINARY_DIR}/launchers/${launcher_name} @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/launchers/${launcher_name}
    DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# The man page, from the built program's --help (not when cross-compiling, where it cannot run,
# nor under the sanitizers, whose builds are not installed).
if(NOT CMAKE_CROSSCOMPILING AND NOT AEROSOL_SANITIZE)
  set(manpage ${CMAKE_BINARY_DIR}/man/aerosol.1)
  add_custom_command(OUTPUT ${manpage}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:aerosol> -DVERSION=${PROJECT_VERSION}
            -DOUTPUT=${manpage} -P ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
    DEPENDS aerosol ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
    COMMENT "Writing the man page aerosol(1) from aerosol --help" VERBATIM)
  add_custom_target(aerosol_manpage ALL DEPENDS ${manpage})
  install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Documents and examples. Results that runs leave in the example folders stay behind.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/aerosol/examples
  PATTERN ".gitignore" EXCLUDE PATTERN "*.nc" EXCLUDE PATTERN "*-runs" EXCLUDE
  PATTERN "*-plot.*" EXCLUDE PATTERN ".ipynb_checkpoints" EXCLUDE PATTERN "*.out" EXCLUDE)

# The Debian package: runtime dependencies by Debian package name, the shared libraries' from
# dpkg-shlibdeps (dpkg-dev), the Python ones listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aerosol)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "nodal simulation of aerosol size distributions (nucleation, coagulation, growth)")
set(CPACK_PACKAGE_DESCRIPTION "aerosol follows how the particle size distribution of an
aerosol evolves on a geometric grid of size nodes: coagulation, homogeneous nucleation of a
cooling vapour, and surface growth with the Kelvin effect. It runs the input-file processes,
integrates TOML case files with CVODE into NetCDF (aerosol simulate), and comes with the
Python module aerosol and the companions aerosol-plot and aerosol-sweep.")
set(AEROSOL_PACKAGE_MAINTAINER "aerosol maintainers <aerosol@localhost>" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${AEROSOL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(python_depends "python3")
if(TARGET _aerosol)
  # The compiled module is for one Python version.
  math(EXPR python_next "${Python3_VERSION_MINOR} + 1")
  string(CONCAT python_depends
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), "
    "python3 (<< ${Python3_VERSION_MAJOR}.${python_next})")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "${python_depends}, python3-numpy, python3-xarray, python3-netcdf4, python3-matplotlib")
if(AEROSOL_OPENBLAS_SERIAL)
  # dpkg-shlibdeps names libopenblas0, which any of OpenBLAS's variants satisfies; the program
  # runs the serial one by its own path (single-threaded: the same bytes whatever the cores).
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libopenblas0-serial")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "parallel")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-client, jupyter-nbconvert, python3-ipykernel")
# Byte-compiled files of the package are made on install and removed before removal, so that
# removing the package leaves nothing behind.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
