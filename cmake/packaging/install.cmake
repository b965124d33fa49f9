# What `cmake --install` puts where (GNUInstallDirs), in two components that
# become the two Debian packages (cmake/packaging/debian.cmake):
#   quorvanta      the program, its manual page, desktop entry, icons,
#                  AppStream metainfo and bash completion
#   quorvanta-sim  the rehearsal tool and its manual page and completion
# The test tools (qv_tcmu_drives, the probes, the generators) are never
# installed. Included by CMakeLists.txt once the programs are defined.
include(GNUInstallDirs)

set(QV_APP_ID org.quorvanta.Quorvanta)
# Where the program's own loadable modules go (the desktop view, once it is
# loaded on demand), in the quorvanta component.
set(QV_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/quorvanta)

set(QV_DOCS ${CMAKE_BINARY_DIR}/docs)
file(MAKE_DIRECTORY ${QV_DOCS})

# Manual pages and the changelog compressed as Debian wants them (gzip -9n:
# no name or time stamp, so the same sources give the same bytes).
function(qv_gzipped_doc source output)
  configure_file(${source} ${QV_DOCS}/${output} @ONLY)
  add_custom_command(OUTPUT ${QV_DOCS}/${output}.gz
                     COMMAND gzip -9nkf ${QV_DOCS}/${output}
                     DEPENDS ${QV_DOCS}/${output} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY QV_GZIPPED_DOCS ${QV_DOCS}/${output}.gz)
endfunction()
qv_gzipped_doc(${CMAKE_SOURCE_DIR}/docs/man/quorvanta.1 quorvanta.1)
qv_gzipped_doc(${CMAKE_SOURCE_DIR}/docs/man/quorvanta-sim.1 quorvanta-sim.1)
qv_gzipped_doc(${CMAKE_SOURCE_DIR}/docs/debian/changelog changelog)
get_property(QV_GZIPPED_DOCS_LIST GLOBAL PROPERTY QV_GZIPPED_DOCS)
add_custom_target(qv_docs ALL DEPENDS ${QV_GZIPPED_DOCS_LIST})

# The licence in the machine-readable form Debian reads: a header, then
# LICENSE's permission text as an indented paragraph.
file(READ ${CMAKE_SOURCE_DIR}/docs/debian/copyright.head QV_COPYRIGHT)
file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE QV_LICENSE_LINES)
set(QV_IN_PERMISSION FALSE)
foreach(line IN LISTS QV_LICENSE_LINES)
  if(line MATCHES "^Permission is hereby granted")
    set(QV_IN_PERMISSION TRUE)
  endif()
  if(QV_IN_PERMISSION)
    if(line STREQUAL "")
      string(APPEND QV_COPYRIGHT " .\n")
    else()
      string(APPEND QV_COPYRIGHT " ${line}\n")
    endif()
  endif()
endforeach()
file(WRITE ${QV_DOCS}/copyright.new "${QV_COPYRIGHT}")
configure_file(${QV_DOCS}/copyright.new ${QV_DOCS}/copyright COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE
                                                              ${CMAKE_SOURCE_DIR}/docs/debian/copyright.head)
configure_file(${CMAKE_SOURCE_DIR}/docs/desktop/${QV_APP_ID}.metainfo.xml
               ${QV_DOCS}/${QV_APP_ID}.metainfo.xml @ONLY)

foreach(component quorvanta quorvanta-sim)
  install(TARGETS ${component} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  install(FILES ${QV_DOCS}/${component}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/docs/completion/${component}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${component})
  install(FILES ${QV_DOCS}/copyright ${QV_DOCS}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${component} COMPONENT ${component})
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/docs/desktop/${QV_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT quorvanta)
install(FILES ${QV_DOCS}/${QV_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT quorvanta)
install(FILES ${CMAKE_SOURCE_DIR}/docs/icons/quorvanta.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QV_APP_ID}.svg COMPONENT quorvanta)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/icons/quorvanta-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${QV_APP_ID}.png COMPONENT quorvanta)
endforeach()
