# The installed layout (cmake --install build --prefix P) and the Debian package (CPack).
#
#   P/bin/               PVestra, vestra-sim, vestra-regsvr
#   P/lib/pvestra/       the libraries the programs link and load by name (FFT, the driver,
#                        the knobs, the platform stand-ins), and controls.ini, the control
#                        registry, written when the knobs are registered
#   P/share/             desktop entry, icon, manual pages, documentation
#
# The programs find their libraries through their run path ($ORIGIN/../lib/pvestra), and the
# libraries loaded by name are looked up beside the platform library only. Nothing the
# program writes goes into this tree: the user's files live in $XDG_CONFIG_HOME/PVestra.
#
# Component "Program" is everything the package holds. Component "Registration" registers
# the knobs into the installed registry when installing with cmake --install; the package
# leaves it out and registers in its post-install step instead.

set(PVESTRA_PRIVATE_LIBDIR lib/pvestra)
set(PVESTRA_PROGRAMS PVestra vestra-sim vestra-regsvr)
set(PVESTRA_LIBRARIES vestra_win32 vestra_nt vestra_ole FFT USBKRNb Mirtal MirtalG)
set(PVESTRA_KNOBS Mirtal MirtalG)
set(PVESTRA_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

set_target_properties(${PVESTRA_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/../${PVESTRA_PRIVATE_LIBDIR}")
# The programs' run path as DT_RPATH, which the loader searches before LD_LIBRARY_PATH (a
# DT_RUNPATH comes after it): the program's own libraries are always the ones beside it.
foreach(program IN LISTS PVESTRA_PROGRAMS)
  target_link_options(${program} PRIVATE LINKER:--disable-new-dtags)
endforeach()
# Symbols bound at load and the relocations made read-only then, as Debian's hardening asks.
foreach(target IN LISTS PVESTRA_PROGRAMS PVESTRA_LIBRARIES)
  target_link_options(${target} PRIVATE LINKER:-z,relro,-z,now)
endforeach()
set_target_properties(${PVESTRA_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${PVESTRA_PROGRAMS} RUNTIME DESTINATION bin COMPONENT Program)
install(TARGETS ${PVESTRA_LIBRARIES} LIBRARY DESTINATION ${PVESTRA_PRIVATE_LIBDIR} COMPONENT Program)

install(FILES ${PVESTRA_PACKAGING_DIR}/pvestra.desktop DESTINATION share/applications COMPONENT Program)
install(FILES ${PVESTRA_PACKAGING_DIR}/pvestra.png DESTINATION share/icons/hicolor/64x64/apps COMPONENT Program)

# Manual pages and the package's changelog are installed compressed, as Debian wants them.
set(PVESTRA_MANUALS PVestra.1 vestra-sim.1 vestra-regsvr.1)
set(PVESTRA_DOC_BUILD_DIR ${CMAKE_BINARY_DIR}/packaging)
string(TIMESTAMP PVESTRA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PVESTRA_PACKAGING_DIR}/changelog.in ${PVESTRA_DOC_BUILD_DIR}/changelog @ONLY)
set(PVESTRA_COMPRESSED_DOCS)
foreach(doc IN LISTS PVESTRA_MANUALS ITEMS changelog)
  if(doc STREQUAL "changelog")
    set(source ${PVESTRA_DOC_BUILD_DIR}/changelog)
  else()
    set(source ${PVESTRA_PACKAGING_DIR}/man/${doc})
  endif()
  add_custom_command(OUTPUT ${PVESTRA_DOC_BUILD_DIR}/${doc}.gz
    COMMAND gzip -9nc ${source} > ${PVESTRA_DOC_BUILD_DIR}/${doc}.gz
    DEPENDS ${source}
    VERBATIM)
  list(APPEND PVESTRA_COMPRESSED_DOCS ${PVESTRA_DOC_BUILD_DIR}/${doc}.gz)
endforeach()
add_custom_target(pvestra-docs ALL DEPENDS ${PVESTRA_COMPRESSED_DOCS})
list(TRANSFORM PVESTRA_MANUALS PREPEND ${PVESTRA_DOC_BUILD_DIR}/ OUTPUT_VARIABLE manuals)
list(TRANSFORM manuals APPEND .gz)
install(FILES ${manuals} DESTINATION share/man/man1 COMPONENT Program)
install(FILES ${PVESTRA_DOC_BUILD_DIR}/changelog.gz ${PVESTRA_PACKAGING_DIR}/copyright
        DESTINATION share/doc/pvestra COMPONENT Program)

# cmake --install: register the installed knobs into the installed registry. A staged
# install (DESTDIR) is not where the libraries will live: whoever installs the tree for
# real registers them there, as the package does.
install(CODE "
  if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
    message(STATUS \"DESTDIR is set: the knobs are not registered (run vestra-regsvr where the tree lands)\")
  else()
    foreach(knob ${PVESTRA_KNOBS})
      execute_process(COMMAND \${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                              \${CMAKE_INSTALL_PREFIX}/bin/vestra-regsvr
                              \${CMAKE_INSTALL_PREFIX}/${PVESTRA_PRIVATE_LIBDIR}/lib\${knob}.so
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"registering lib\${knob}.so failed\")
      endif()
    endforeach()
  endif()
" COMPONENT Registration)

# The Debian package: scripts/package.sh builds it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pvestra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "PVestra")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Program;/")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "управление КВ-приёмником VESTRA")
set(CPACK_PACKAGE_DESCRIPTION "PVestra управляет радиоприёмником VESTRA (1–30 МГц) по USB или по
последовательному порту: настройка частоты, вид работы, полоса, усиление,
спектр принимаемого участка, каналы памяти и их сканирование, сканирование
диапазона, панорама, приём телеграфных сообщений и загрузка программы
сигнального процессора.

В пакете также драйвер USB приёмника (работает внутри программы, шина USB
через USB/IP), элемент управления «ручка настройки» в двух вариантах и
имитатор приёмника vestra-sim.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "PVestra developers <pvestra@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PVESTRA_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PVESTRA_PACKAGING_DIR}/postinst ${PVESTRA_PACKAGING_DIR}/prerm ${PVESTRA_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
