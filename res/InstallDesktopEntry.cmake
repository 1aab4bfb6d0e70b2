# Run by `cmake --install`: writes the desktop entry with the absolute path of the
# installed program (the prefix is only known now), quoted when it holds a space.
# Expects TETHROCAM_DESKTOP_IN, TETHROCAM_DESKTOP_OUT and TETHROCAM_BINDIR.
set(TETHROCAM_EXEC "${CMAKE_INSTALL_PREFIX}/${TETHROCAM_BINDIR}/tethrocam")
if(TETHROCAM_EXEC MATCHES "[ \t\"'\\\\$`]")
  string(REPLACE "\\" "\\\\\\\\" TETHROCAM_EXEC "${TETHROCAM_EXEC}")
  string(REPLACE "\"" "\\\\\"" TETHROCAM_EXEC "${TETHROCAM_EXEC}")
  string(REPLACE "$" "\\\\$" TETHROCAM_EXEC "${TETHROCAM_EXEC}")
  string(REPLACE "`" "\\\\`" TETHROCAM_EXEC "${TETHROCAM_EXEC}")
  set(TETHROCAM_EXEC "\"${TETHROCAM_EXEC}\"")
endif()
configure_file("${TETHROCAM_DESKTOP_IN}" "${TETHROCAM_DESKTOP_OUT}" @ONLY)
