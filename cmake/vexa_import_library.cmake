# Import library of vexa.dll for 32-bit x86 callers.
#
# The exports are __stdcall, so a caller compiled against vexa.h asks for _DLL_X@N. With
# --kill-at the linker's own import library carries the undecorated names and such a
# caller cannot link; dlltool --kill-at, fed the decorated vexa.def, writes one whose
# symbols keep the decoration while the names it imports by are plain. The 64-bit build
# has no decoration and keeps the linker's import library.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_custom_command(TARGET vexa POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --input-def ${CMAKE_CURRENT_SOURCE_DIR}/core/vexa.def --dllname vexa.dll
            --kill-at --output-lib $<TARGET_LINKER_FILE:vexa>
    VERBATIM)
endif()
