# The exports of vexa.dll are the functions vexa/vexa.h declares with VEXA_EXPORT and
# VEXA_CALL; every check of the export table takes its list from here.

# vexa_export_names(<header> <out-var>): the exported names in declaration order.
function(vexa_export_names header outVar)
  file(READ "${header}" text)
  # No ';' or '#' between the two macros: one declaration, never a preprocessor line.
  string(REGEX MATCHALL "VEXA_EXPORT[^;#]*VEXA_CALL[ \t\r\n]+[A-Za-z_][A-Za-z0-9_]*[ \t\r\n]*\\("
         declarations "${text}")
  set(names)
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE ".*VEXA_CALL[ \t\r\n]+([A-Za-z_][A-Za-z0-9_]*).*" "\\1" name "${declaration}")
    list(APPEND names ${name})
  endforeach()
  set(${outVar} ${names} PARENT_SCOPE)
endfunction()
