# Compares the declarations of the bindings with the C headers, as 32-bit Windows lays them out
# (the programs of the other tests run the 64-bit layout; this check covers the 32-bit one that
# nothing here runs). One table says which binding file declares which header; each header has
# its check:
#
# include/vudaduv.h (the six exports; LANGUAGE vb, csharp or pascal): every record with the same
# fields in the same order and of the same sizes, and every export of VUDADUV.dll, __stdcall,
# taking its record by reference and returning a 32-bit integer. Each side yields, per record, a
# list "field:size" (size "N=RECORD" for a record inside a record) and a list of exports
# "NAME(RECORD)".
#
# include/vudaduv_fleet_c.h (the fleet; csharp or pascal): every VDFLEET_ constant with the same
# value, every record with the same fields in the same order and of the same sizes, and every
# export and the progress functions __stdcall, returning a 32-bit integer (or a text, "->p"
# after its parameters) and taking parameters of the same kinds. A parameter's kind: "4" or "8"
# (an integer by value), "*4" or "*8" (a pointer to such integers), "&RECORD" (a record by
# reference), "p" (any other pointer: texts, buffers, the session, the progress function).
#
# Usage: cmake [-DLANGUAGE=vb|csharp|pascal] -P declarations_match_header.cmake
# checks every pair of the table, or those of one language.
cmake_minimum_required(VERSION 3.25)

get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)

# The table: header, language, the binding file that declares it in that language.
set(pairs
  include/vudaduv.h csharp bindings/csharp/Vudaduv.cs
  include/vudaduv.h pascal bindings/delphi/Vudaduv.pas
  include/vudaduv.h vb bindings/vb6/Vudaduv.bas
  include/vudaduv_fleet_c.h csharp bindings/csharp/VudaduvFleet.cs
  include/vudaduv_fleet_c.h pascal bindings/delphi/VudaduvFleet.pas)

# Source text without comments, with ";" turned into "|" so that CMake lists keep it.
function(read_source path comment_regex result)
  file(READ ${path} text)
  string(REGEX REPLACE "${comment_regex}" "" text "${text}")
  string(REPLACE ";" "|" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

# ==== The six exports (vudaduv.h) ============================================================

# The size on 32-bit Windows of a field's type, from a table of the language's scalar types
# (a regex per size) or a record already read; fails on anything else.
function(field_size side type record field result)
  foreach(size 1 2 4 8)
    if(DEFINED ${side}_scalars_${size} AND type MATCHES "^(${${side}_scalars_${size}})$")
      set(${result} ${size} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  if(DEFINED ${side}_size_${type})
    set(${result} "${${side}_size_${type}}=${type}" PARENT_SCOPE)
    return()
  endif()
  message(FATAL_ERROR "no size known for '${type}' of ${record}.${field}")
endfunction()

# Appends one field to the record being read: fields_<record> and size_<record> of the side.
macro(add_field side record field type)
  field_size(${side} "${type}" ${record} ${field} size)
  list(APPEND ${side}_fields_${record} "${field}:${size}")
  string(REGEX REPLACE "=.*" "" size "${size}")
  # No padding: the C records hold only 4-byte members there, and any other size differs anyway.
  math(EXPR ${side}_size_${record} "${${side}_size_${record}} + ${size}")
endmacro()

# "a, b" of one type.
macro(add_fields side record names type)
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" fields "${names}")
  foreach(field IN LISTS fields)
    add_field(${side} ${record} ${field} "${type}")
  endforeach()
endmacro()

macro(start_record side record)
  list(APPEND ${side}_records ${record})
  set(${side}_fields_${record} "")
  set(${side}_size_${record} 0)
endmacro()

# Records written "struct NAME { FIELD; FIELD; ... }" (C and C#) in the variable text_var: every
# field statement must match the regex in regex_var, whose first group is the type and second
# the names. (Passed by name: a macro would read "$" in a value it is handed as a reference.)
macro(read_struct_records side text_var regex_var)
  string(REGEX MATCHALL "struct [A-Za-z_]+ {[^}]*}" structs "${${text_var}}")
  foreach(struct IN LISTS structs)
    string(REGEX MATCH "struct ([A-Za-z_]+) {([^}]*)}" ignored "${struct}")
    set(record ${CMAKE_MATCH_1})
    string(REPLACE "|" ";" statements "${CMAKE_MATCH_2}")
    start_record(${side} ${record})
    foreach(statement IN LISTS statements)
      string(STRIP "${statement}" statement)
      if(statement MATCHES "${${regex_var}}")
        string(STRIP "${CMAKE_MATCH_1}" type)
        add_fields(${side} ${record} "${CMAKE_MATCH_2}" "${type}")
      elseif(NOT statement STREQUAL "")
        message(FATAL_ERROR "cannot read '${statement}' in ${record}")
      endif()
    endforeach()
  endforeach()
endmacro()

function(check_six_exports HEADER DECLARATIONS LANGUAGE)
  # --- the C header: "typedef struct NAME { TYPE FIELD; ... } NAME;" and the prototypes ---
  set(c_scalars_4 "u?int32_t|.*\\*")
  set(c_records "")
  read_source(${HEADER} "/\\*([^*]|\\*+[^*/])*\\*+/" header)
  set(field_regex "^(.*[ *])([A-Za-z_][A-Za-z0-9_]*)$")
  read_struct_records(c header field_regex)
  string(REGEX MATCHALL "int32_t WQ_CALL [A-Za-z]+\\(const [A-Za-z]+\\* [a-z]+\\)" prototypes
         "${header}")
  set(c_exports "")
  foreach(prototype IN LISTS prototypes)
    string(REGEX MATCH "WQ_CALL ([A-Za-z]+)\\(const ([A-Za-z]+)\\*" ignored "${prototype}")
    list(APPEND c_exports "${CMAKE_MATCH_1}(${CMAKE_MATCH_2})")
  endforeach()

  # --- the other language ---
  set(d_records "")
  set(d_exports "")
  set(export_lines "")  # lines that declare an export, each to be matched by export_regex
  if(LANGUAGE STREQUAL "vb")
    # Type NAME / FIELD As TYPE / End Type; Declare Function NAME Lib "..." (ByRef x As TYPE) As Long
    set(d_scalars_1 "Byte")
    set(d_scalars_2 "Integer|Boolean")
    set(d_scalars_4 "Long|Single")
    set(d_scalars_8 "Double|Currency")
    read_source(${DECLARATIONS} "'[^\n]*" text)
    string(REPLACE "\n" ";" lines "${text}")
    set(record "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ \t]*(Public |Private )?Type ([A-Za-z_]+)")
        set(record ${CMAKE_MATCH_2})
        start_record(d ${record})
      elseif(line MATCHES "^[ \t]*End Type")
        set(record "")
      elseif(record AND line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*) As ([A-Za-z_][A-Za-z0-9_]*)[ \t\r]*$")
        add_field(d ${record} ${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
      elseif(record AND NOT line MATCHES "^[ \t\r]*$")
        message(FATAL_ERROR "${DECLARATIONS}: cannot read '${line}' in ${record}")
      elseif(line MATCHES "Declare ")
        list(APPEND export_lines "${line}")
      endif()
    endforeach()
    set(export_regex "Declare Function ([A-Za-z]+) Lib \"VUDADUV.dll\" \\(ByRef [a-z]+ As ([A-Za-z]+)\\) As Long[ \t\r]*$")
  elseif(LANGUAGE STREQUAL "csharp")
    # struct NAME { public TYPE a, b; ... }; [DllImport(...)] public static extern int NAME(ref TYPE x);
    set(d_scalars_1 "byte|sbyte")
    set(d_scalars_2 "short|ushort")
    set(d_scalars_4 "int|uint|IntPtr|UIntPtr|float")
    set(d_scalars_8 "long|ulong|double")
    read_source(${DECLARATIONS} "//[^\n]*" text)
    set(field_regex "^public ([A-Za-z_][A-Za-z0-9_]*) ([A-Za-z0-9_, ]+)$")
    read_struct_records(d text field_regex)
    string(REGEX MATCHALL "\\[StructLayout\\(LayoutKind.Sequential\\)\\][ \t\r\n]*public struct" laid
           "${text}")
    list(LENGTH laid laid)
    list(LENGTH structs all)
    if(NOT laid EQUAL all)
      message(FATAL_ERROR "${DECLARATIONS}: a struct is not [StructLayout(LayoutKind.Sequential)]")
    endif()
    string(REGEX MATCHALL "\\[DllImport[^]]*\\][ \t\r\n]*[^|]*extern [^|]*" export_lines "${text}")
    set(export_regex "^\\[DllImport\\(\"VUDADUV.dll\", CallingConvention = CallingConvention.StdCall\\)\\][ \t\r\n]*public static extern int ([A-Za-z]+)\\(ref ([A-Za-z]+) [a-z]+\\)$")
  elseif(LANGUAGE STREQUAL "pascal")
    # TNAME = record / a, b: TYPE; / end; function NAME(x: PNAME): Integer; stdcall; external ...;
    # Records and their pointers carry a T and a P in front of the C name.
    set(d_scalars_1 "Byte|ShortInt|AnsiChar")
    set(d_scalars_2 "Word|SmallInt")
    set(d_scalars_4 "Cardinal|Integer|LongWord|LongInt|Single|Pointer|NativeInt|NativeUInt|P[A-Za-z]+")
    set(d_scalars_8 "Int64|UInt64|Double")
    read_source(${DECLARATIONS} "{[^}]*}" text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REPLACE "|" ";" statements "${text}")
    set(record "")
    foreach(statement IN LISTS statements)
      string(STRIP "${statement}" statement)
      if(statement MATCHES "T([A-Za-z_]+) = record[ \t\r\n]+(.*)$")
        set(record ${CMAKE_MATCH_1})
        start_record(d ${record})
        set(statement "${CMAKE_MATCH_2}")
      endif()
      if(NOT record)
        continue()
      elseif(statement STREQUAL "end")
        set(record "")
      elseif(statement MATCHES "^([A-Za-z_][A-Za-z0-9_, ]*): *T?([A-Za-z_][A-Za-z0-9_]*)$")
        add_fields(d ${record} "${CMAKE_MATCH_1}" ${CMAKE_MATCH_2})
      else()
        message(FATAL_ERROR "${DECLARATIONS}: cannot read '${statement}' in ${record}")
      endif()
    endforeach()
    string(REGEX MATCHALL "function [^|]*\\|[^|]*\\|[^|]*\\|" export_lines "${text}")
    set(export_regex "^function ([A-Za-z]+)\\([a-z]+: P([A-Za-z]+)\\): Integer\\| stdcall\\| external VudaduvLibrary\\|$")
    file(READ ${DECLARATIONS} unit)
    if(NOT unit MATCHES "VudaduvLibrary = {\\$IFDEF MSWINDOWS}'VUDADUV.dll'")
      message(FATAL_ERROR "${DECLARATIONS}: VudaduvLibrary is not VUDADUV.dll on Windows")
    endif()
    if(NOT unit MATCHES "\n{\\$ALIGN 8}\n")
      message(FATAL_ERROR "${DECLARATIONS}: the records are not aligned as C aligns them ({$ALIGN 8})")
    endif()
  else()
    message(FATAL_ERROR "LANGUAGE must be vb, csharp or pascal, not '${LANGUAGE}'")
  endif()
  foreach(line IN LISTS export_lines)
    string(STRIP "${line}" line)
    if(NOT line MATCHES "${export_regex}")
      message(FATAL_ERROR "${DECLARATIONS}: not a declaration of an export: ${line}")
    endif()
    list(APPEND d_exports "${CMAKE_MATCH_1}(${CMAKE_MATCH_2})")
  endforeach()

  # --- the comparison ---
  set(faults "")
  foreach(record IN LISTS c_records)
    if(NOT "${d_fields_${record}}" STREQUAL "${c_fields_${record}}")
      string(APPEND faults "\n  ${record}: C has ${c_fields_${record}}, ${LANGUAGE} ${d_fields_${record}}")
    endif()
  endforeach()
  foreach(side c d)
    list(SORT ${side}_records)
    list(SORT ${side}_exports)
  endforeach()
  if(NOT d_records STREQUAL c_records)
    string(APPEND faults "\n  records: C has ${c_records}, ${LANGUAGE} ${d_records}")
  endif()
  if(NOT d_exports STREQUAL c_exports)
    string(APPEND faults "\n  exports: C has ${c_exports}, ${LANGUAGE} ${d_exports}")
  endif()
  if(NOT c_exports OR NOT c_records)
    string(APPEND faults "\n  nothing read from ${HEADER}")
  endif()
  if(faults)
    message(FATAL_ERROR "${DECLARATIONS} differs from the C header:${faults}")
  endif()
  list(LENGTH c_records records)
  list(LENGTH c_exports exports)
  message(STATUS "${DECLARATIONS}: ${records} records and ${exports} exports agree with the C header")
endfunction()

# ==== The fleet (vudaduv_fleet_c.h) ===========================================================

# The kind of one parameter or the size of one field, from the side's table of
# "regex" "kind" pairs, tried in order; fails on anything else.
function(kind_of side text what result)
  set(rules ${${side}_rules})
  while(rules)
    list(POP_FRONT rules regex kind)
    if(text MATCHES "^(${regex})$")
      set(${result} ${kind} PARENT_SCOPE)
      return()
    endif()
  endwhile()
  message(FATAL_ERROR "${what}: no kind known for '${text}'")
endfunction()

# "NAME(kind,kind,...)" of a parameter list: its parameters split at separator, each read by
# the regex in param_regex_var with its type in the group numbered type_group (spaces and the
# words in front kept) and its names (one or more, separated by commas) in names_group.
function(signature side name params separator param_regex_var type_group names_group result)
  string(REPLACE "${separator}" ";" params "${params}")
  set(kinds "")
  foreach(param IN LISTS params)
    string(REGEX REPLACE "[ \t\r\n]+" " " param "${param}")
    string(STRIP "${param}" param)
    if(param STREQUAL "" OR param STREQUAL "void")
      continue()
    endif()
    if(NOT param MATCHES "${${param_regex_var}}")
      message(FATAL_ERROR "${name}: cannot read the parameter '${param}'")
    endif()
    string(STRIP "${CMAKE_MATCH_${type_group}}" type)
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_${names_group}}")
    kind_of(${side} "${type}" "${name}" kind)
    foreach(ignored IN LISTS names)
      list(APPEND kinds ${kind})
    endforeach()
  endforeach()
  list(JOIN kinds "," kinds)
  set(${result} "${name}(${kinds})" PARENT_SCOPE)
endfunction()

# Records "struct NAME { FIELD| FIELD| ... }" (C and C#; ";" already "|") appended to
# <side>_records, with <side>_fields_<record> the list of its fields, each "name:kind" (the
# fleet's records; those of the six exports are read by read_struct_records, with sizes).
function(read_struct_kinds side text field_regex)
  set(records ${${side}_records})
  string(REGEX MATCHALL "struct [A-Za-z_]+ {[^}]*}" structs "${text}")
  foreach(struct IN LISTS structs)
    string(REGEX MATCH "struct ([A-Za-z_]+) {([^}]*)}" ignored "${struct}")
    set(record ${CMAKE_MATCH_1})
    list(APPEND records ${record})
    set(fields "")
    string(REPLACE "|" ";" statements "${CMAKE_MATCH_2}")
    foreach(statement IN LISTS statements)
      string(STRIP "${statement}" statement)
      if(statement STREQUAL "")
        continue()
      elseif(NOT statement MATCHES "${field_regex}")
        message(FATAL_ERROR "cannot read '${statement}' in ${record}")
      endif()
      string(STRIP "${CMAKE_MATCH_1}" type)
      string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_2}")
      kind_of(${side} "${type}" "${record}" kind)
      foreach(field IN LISTS names)
        list(APPEND fields "${field}:${kind}")
      endforeach()
    endforeach()
    set(${side}_fields_${record} "${fields}" PARENT_SCOPE)
  endforeach()
  set(${side}_records "${records}" PARENT_SCOPE)
endfunction()

# "NAME=VALUE" of every match of regex (name in group 1, value in group 2) appended to
# <side>_constants.
function(read_constants side text regex)
  set(constants ${${side}_constants})
  string(REGEX MATCHALL "${regex}" found "${text}")
  foreach(constant IN LISTS found)
    string(REGEX MATCH "${regex}" ignored "${constant}")
    list(APPEND constants "${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
  endforeach()
  set(${side}_constants "${constants}" PARENT_SCOPE)
endfunction()

function(check_fleet HEADER DECLARATIONS LANGUAGE)
  foreach(side c d)
    set(${side}_constants "")
    set(${side}_records "")
    set(${side}_exports "")
  endforeach()

  # --- the C header ---
  set(c_rules
    "u?int32_t" 4
    "u?int64_t" 8
    "(const )?u?int32_t\\*" "*4"
    "(const )?u?int64_t\\*" "*8"
    "const VDFleetOptions\\*" "&VDFleetOptions"
    "const VDFleetSyncRequest\\*" "&VDFleetSyncRequest"
    ".*\\*|VDFleetProgress|VDFleetProgressEvents" p)
  read_source(${HEADER} "/\\*([^*]|\\*+[^*/])*\\*+/" header)
  string(REGEX REPLACE "\\\\\n" " " header "${header}")  # a #define continued on the next line
  read_constants(c "${header}" "#define (VDFLEET_[A-Z0-9_]+)[ \t]+(-?[0-9]+)u?[ \t]*\n")
  read_struct_kinds(c "${header}" "^(.*[ *])([A-Za-z_][A-Za-z0-9_]*)$")
  set(c_param "^(.*[ *])([A-Za-z_][A-Za-z0-9_]*)$")
  string(REGEX MATCHALL "\nVDFLEET_API [^(]*\\([^)]*\\)" prototypes "${header}")
  foreach(prototype IN LISTS prototypes)
    string(REGEX REPLACE "[ \t\r\n]+" " " prototype "${prototype}")
    string(STRIP "${prototype}" prototype)
    if(NOT prototype MATCHES "^VDFLEET_API (int32_t|const char\\*) VDFLEET_CALL ([A-Za-z]+)\\(([^)]*)\\)$")
      message(FATAL_ERROR "${HEADER}: not an export returning int32_t or a text: ${prototype}")
    endif()
    set(returns "")
    if(CMAKE_MATCH_1 STREQUAL "const char*")
      set(returns "->p")
    endif()
    signature(c ${CMAKE_MATCH_2} "${CMAKE_MATCH_3}" "," c_param 1 2 export)
    list(APPEND c_exports "${export}${returns}")
  endforeach()
  string(REGEX MATCHALL "typedef int32_t\\(VDFLEET_CALL\\* [A-Za-z]+\\)\\([^)]*\\)" callbacks
         "${header}")
  foreach(callback IN LISTS callbacks)
    string(REGEX MATCH "\\* ([A-Za-z]+)\\)\\(([^)]*)\\)" ignored "${callback}")
    signature(c ${CMAKE_MATCH_1} "${CMAKE_MATCH_2}" "," c_param 1 2 export)
    list(APPEND c_exports "${export}")
  endforeach()

  # --- the other language ---
  if(LANGUAGE STREQUAL "csharp")
    set(d_rules
      "int|uint" 4
      "long|ulong" 8
      "(out|ref) u?int|u?int\\[\\]" "*4"
      "(out|ref) u?long|u?long\\[\\]" "*8"
      "ref VDFleetOptions" "&VDFleetOptions"
      "ref VDFleetSyncRequest" "&VDFleetSyncRequest"
      "IntPtr|byte\\[\\]|(out )?FleetSessionHandle|VDFleetProgress|VDFleetProgressEvents" p)
    read_source(${DECLARATIONS} "//[^\n]*" text)
    read_constants(d "${text}" "public const u?int (VDFLEET_[A-Z0-9_]+) = (-?[0-9]+)u?\\|")
    string(REGEX MATCHALL "const [^|]*VDFLEET_" all_constants "${text}")
    list(LENGTH all_constants declared)
    list(LENGTH d_constants read)
    if(NOT declared EQUAL read)
      message(FATAL_ERROR "${DECLARATIONS}: a VDFLEET_ constant is not 'public const int|uint NAME = N'")
    endif()
    read_struct_kinds(d "${text}" "^public ([A-Za-z_][A-Za-z0-9_]*) ([A-Za-z0-9_, ]+)$")
    string(REGEX MATCHALL "\\[StructLayout\\(LayoutKind.Sequential\\)\\][ \t\r\n]*public struct" laid
           "${text}")
    list(LENGTH laid laid)
    list(LENGTH d_records all)
    if(NOT laid EQUAL all)
      message(FATAL_ERROR "${DECLARATIONS}: a struct is not [StructLayout(LayoutKind.Sequential)]")
    endif()
    # "TYPE name", the type with out or ref in front when the parameter is passed by reference.
    set(d_param "^((out |ref )?[A-Za-z_][A-Za-z0-9_]*(\\[\\])?) ([A-Za-z_][A-Za-z0-9_]*)$")
    string(REGEX MATCHALL "extern [^|]*\\|" externs "${text}")
    string(REGEX MATCHALL
      "\\[DllImport\\(\"VUDADUV_FLEET.dll\", CallingConvention = CallingConvention.StdCall\\)\\][ \t\r\n]*public static extern (int|IntPtr) [A-Za-z]+\\([^)]*\\)\\|"
      declared "${text}")
    list(LENGTH externs all)
    list(LENGTH declared good)
    if(NOT all EQUAL good)
      message(FATAL_ERROR "${DECLARATIONS}: an extern is not [DllImport(\"VUDADUV_FLEET.dll\", "
                          "CallingConvention = CallingConvention.StdCall)] public static extern int "
                          "(or IntPtr, for a text)")
    endif()
    string(REGEX MATCHALL
      "\\[UnmanagedFunctionPointer\\(CallingConvention.StdCall\\)\\][ \t\r\n]*public delegate int [A-Za-z]+\\([^)]*\\)\\|"
      callbacks "${text}")
    foreach(declaration IN LISTS declared callbacks)
      string(REGEX MATCH " ([A-Za-z]+) ([A-Za-z]+)\\(([^)]*)\\)\\|$" ignored "${declaration}")
      set(returns "")
      if(CMAKE_MATCH_1 STREQUAL "IntPtr")
        set(returns "->p")
      endif()
      set(name ${CMAKE_MATCH_2})
      # Attributes such as [Out] say how the runtime copies, not what the library is handed.
      string(REGEX REPLACE "\\[[A-Za-z]+\\] " "" params "${CMAKE_MATCH_3}")
      signature(d ${name} "${params}" "," d_param 1 4 export)
      list(APPEND d_exports "${export}${returns}")
    endforeach()
  elseif(LANGUAGE STREQUAL "pascal")
    # Records and their pointers carry a T and a P in front of the C name.
    set(d_rules
      "(const )?(Cardinal|Integer|LongWord|LongInt)" 4
      "(const )?(Int64|UInt64)" 8
      "(out |var )(Cardinal|Integer|LongWord|LongInt)|PCardinal|PInteger|PLongWord" "*4"
      "(out |var )(Int64|UInt64)|PInt64|PUInt64" "*8"
      "PVDFleetOptions" "&VDFleetOptions"
      "PVDFleetSyncRequest" "&VDFleetSyncRequest"
      "PAnsiChar|PPAnsiChar|Pointer|(out |var )?PVDFleetSession|TVDFleetProgress|TVDFleetProgressEvents|PVDFleetProgressEvent" p)
    read_source(${DECLARATIONS} "{[^}]*}" text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    read_constants(d "${text}" "(VDFLEET_[A-Z0-9_]+) = (-?[0-9]+)\\|")
    string(REPLACE "|" ";" statements "${text}")
    set(record "")
    foreach(statement IN LISTS statements)
      string(STRIP "${statement}" statement)
      if(statement MATCHES "T([A-Za-z_]+) = record[ \t\r\n]+(.*)$")
        set(record ${CMAKE_MATCH_1})
        list(APPEND d_records ${record})
        set(d_fields_${record} "")
        set(statement "${CMAKE_MATCH_2}")
      endif()
      if(NOT record)
        continue()
      elseif(statement STREQUAL "end")
        set(record "")
      elseif(statement MATCHES "^([A-Za-z_][A-Za-z0-9_, ]*): *([A-Za-z_][A-Za-z0-9_]*)$")
        set(type ${CMAKE_MATCH_2})
        string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_1}")
        kind_of(d "${type}" ${record} kind)
        foreach(field IN LISTS names)
          list(APPEND d_fields_${record} "${field}:${kind}")
        endforeach()
      else()
        message(FATAL_ERROR "${DECLARATIONS}: cannot read '${statement}' in ${record}")
      endif()
    endforeach()
    # "names: TYPE", with out or var in front when the parameter is passed by reference.
    set(d_param "^((out |var |const )?)([A-Za-z_][A-Za-z0-9_, ]*): *([A-Za-z_][A-Za-z0-9_]*)$")
    string(REGEX MATCHALL "external [^|]*\\|" externs "${text}")
    string(REGEX MATCHALL
      "function VDFleet[A-Za-z]+(\\([^)]*\\))?: (Integer|PAnsiChar)\\| stdcall\\| external VudaduvFleetLibrary\\|"
      declared "${text}")
    list(LENGTH externs all)
    list(LENGTH declared good)
    if(NOT all EQUAL good)
      message(FATAL_ERROR "${DECLARATIONS}: an external is not "
                          "'function NAME(...): Integer; stdcall; external VudaduvFleetLibrary;' "
                          "(or PAnsiChar, for a text)")
    endif()
    string(REGEX MATCHALL "TVDFleet[A-Za-z]+ = function\\([^)]*\\): Integer\\| stdcall\\|" callbacks
           "${text}")
    foreach(declaration IN LISTS declared callbacks)
      set(returns "")
      if(declaration MATCHES "\\): PAnsiChar\\|")
        set(returns "->p")
      endif()
      string(REGEX MATCH "^(function |T)([A-Za-z]+)" ignored "${declaration}")
      set(name ${CMAKE_MATCH_2})
      set(params "")
      if(declaration MATCHES "\\(([^)]*)\\)")
        set(params "${CMAKE_MATCH_1}")
      endif()
      # The mode (group 1) and the type (group 4) make the kind: "out Int64".
      set(moded "")
      string(REPLACE "|" ";" parts "${params}")
      foreach(part IN LISTS parts)
        string(STRIP "${part}" part)
        if(NOT part MATCHES "${d_param}")
          message(FATAL_ERROR "${name}: cannot read the parameter '${part}'")
        endif()
        list(APPEND moded "${CMAKE_MATCH_3}: ${CMAKE_MATCH_1}${CMAKE_MATCH_4}")
      endforeach()
      list(JOIN moded "|" moded)
      set(d_moded "^([A-Za-z_][A-Za-z0-9_, ]*): *((out |var |const )?[A-Za-z_][A-Za-z0-9_]*)$")
      signature(d ${name} "${moded}" "|" d_moded 2 1 export)
      list(APPEND d_exports "${export}${returns}")
    endforeach()
    file(READ ${DECLARATIONS} unit)
    if(NOT unit MATCHES "VudaduvFleetLibrary = {\\$IFDEF MSWINDOWS}'VUDADUV_FLEET.dll'")
      message(FATAL_ERROR "${DECLARATIONS}: VudaduvFleetLibrary is not VUDADUV_FLEET.dll on Windows")
    endif()
    if(NOT unit MATCHES "\n{\\$ALIGN 8}\n")
      message(FATAL_ERROR "${DECLARATIONS}: the records are not aligned as C aligns them ({$ALIGN 8})")
    endif()
  else()
    message(FATAL_ERROR "LANGUAGE must be csharp or pascal, not '${LANGUAGE}'")
  endif()

  # --- the comparison ---
  set(faults "")
  foreach(record IN LISTS c_records)
    if(NOT "${d_fields_${record}}" STREQUAL "${c_fields_${record}}")
      string(APPEND faults "\n  ${record}: C has ${c_fields_${record}}, ${LANGUAGE} ${d_fields_${record}}")
    endif()
  endforeach()
  foreach(list records exports constants)
    foreach(side c d)
      list(SORT ${side}_${list})
    endforeach()
    if(NOT "${d_${list}}" STREQUAL "${c_${list}}")
      set(missing ${c_${list}})
      list(REMOVE_ITEM missing ${d_${list}})
      set(extra ${d_${list}})
      list(REMOVE_ITEM extra ${c_${list}})
      string(APPEND faults "\n  ${list}: only in C: ${missing}; only in ${LANGUAGE}: ${extra}")
    endif()
    if(NOT c_${list})
      string(APPEND faults "\n  no ${list} read from ${HEADER}")
    endif()
  endforeach()
  if(faults)
    message(FATAL_ERROR "${DECLARATIONS} differs from the C header:${faults}")
  endif()
  list(LENGTH c_constants constants)
  list(LENGTH c_records records)
  list(LENGTH c_exports exports)
  message(STATUS "${DECLARATIONS}: ${constants} constants, ${records} records and ${exports} "
                 "functions agree with the C header")
endfunction()

# ==== The table, checked ========================================================================

set(checked 0)
while(pairs)
  list(POP_FRONT pairs header language declarations)
  if(DEFINED LANGUAGE AND NOT LANGUAGE STREQUAL language)
    continue()
  endif()
  if(header STREQUAL "include/vudaduv.h")
    check_six_exports(${root}/${header} ${root}/${declarations} ${language})
  else()
    check_fleet(${root}/${header} ${root}/${declarations} ${language})
  endif()
  math(EXPR checked "${checked} + 1")
endwhile()
if(checked EQUAL 0)
  message(FATAL_ERROR "no binding file of the table is in '${LANGUAGE}'")
endif()
