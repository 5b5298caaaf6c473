# The class catalogue: registry script number per class, in object-map order,
# plus the two scripts (105, 128) that the module carries but never runs.
# CLSIDs and the LIBID are read from the IDL, the one place they are written.
set(QB_CATALOGUE
  VuPicture:101 SharpModifier:103 BlurModifier:106 Zoom:107 ImageRender:108
  InputSource:109 Contrast:110 Bright:111 Crop:112 AddText:113 Frame:114
  AddPic:115 FolderInput:116 ImageCollection:117 ImageFinder:118
  ImageInputService:119 ImageInputSource:120 ImageInputSourceCollection:121
  ImageOutputService:122 ImageOutputTarget:123 ImageOutputTargetCollection:124
  RotateModifier:125 FileInfoArray:127 ImageFile:129 RedEye:130
  ExportToCard:131 MirrorModifier:132 AdjustColorModifier:133 WallPaper:134)
set(QB_UNSERVED_CATALOGUE PictureModifier:105 FileInfo:128)
set(QB_CLSID_PictureModifier 78D01E0A-8C55-493F-A584-370547EA907A)
set(QB_CLSID_FileInfo EFBC1543-07F8-4553-AE62-A4C07857D697)

file(READ ${CMAKE_SOURCE_DIR}/idl/quillbox.idl QB_IDL_TEXT)
string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\)[^\n]*\n[ \t]*library QuillboxLib" _m "${QB_IDL_TEXT}")
set(QB_LIBID ${CMAKE_MATCH_1})
if(NOT QB_LIBID)
  message(FATAL_ERROR "no LIBID found in quillbox.idl")
endif()
# Each coclass carries its CLSID and the helpstring "<Class> Class".
string(REGEX MATCHALL "uuid\\([0-9A-Fa-f-]+\\), helpstring\\(\"[A-Za-z]+ Class\"\\)" _coclasses "${QB_IDL_TEXT}")
foreach(_c IN LISTS _coclasses)
  string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\), helpstring\\(\"([A-Za-z]+) Class" _m "${_c}")
  set(QB_CLSID_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
endforeach()

# Writes one registry script per class into DIR and a resource script that
# names them, numbered as in the catalogue.
function(qb_generate_registry_scripts DIR)
  set(_rc "// Generated from the class catalogue: one REGISTRY resource per class.\n")
  foreach(_entry IN LISTS QB_CATALOGUE QB_UNSERVED_CATALOGUE)
    string(REPLACE ":" ";" _pair ${_entry})
    list(GET _pair 0 CLASS)
    list(GET _pair 1 _number)
    set(CLSID ${QB_CLSID_${CLASS}})
    if(NOT CLSID)
      message(FATAL_ERROR "no CLSID for ${CLASS} in quillbox.idl")
    endif()
    set(LIBID ${QB_LIBID})
    if(CLASS STREQUAL "FileInfoArray")
      configure_file(${CMAKE_SOURCE_DIR}/server/scripts/collection.rgs.in ${DIR}/${CLASS}.rgs @ONLY)
    else()
      configure_file(${CMAKE_SOURCE_DIR}/server/scripts/class.rgs.in ${DIR}/${CLASS}.rgs @ONLY)
    endif()
    string(APPEND _rc "${_number} REGISTRY \"${CLASS}.rgs\"\n")
  endforeach()
  file(WRITE ${DIR}/registry_scripts.rc.tmp "${_rc}")
  configure_file(${DIR}/registry_scripts.rc.tmp ${DIR}/registry_scripts.rc COPYONLY)

  # Identifiers the C++ side needs that the IDL does not declare.
  set(_h "// Generated from the class catalogue.\n#pragma once\n#include <guiddef.h>\n")
  foreach(_entry IN LISTS QB_UNSERVED_CATALOGUE)
    string(REPLACE ":" ";" _pair ${_entry})
    list(GET _pair 0 CLASS)
    string(REPLACE "-" ";" _p ${QB_CLSID_${CLASS}})
    list(GET _p 0 _a)
    list(GET _p 1 _b)
    list(GET _p 2 _c)
    list(GET _p 3 _d)
    list(GET _p 4 _e)
    string(SUBSTRING ${_d} 0 2 _d0)
    string(SUBSTRING ${_d} 2 2 _d1)
    set(_bytes "0x${_d0}, 0x${_d1}")
    foreach(_i 0 2 4 6 8 10)
      string(SUBSTRING ${_e} ${_i} 2 _x)
      string(APPEND _bytes ", 0x${_x}")
    endforeach()
    string(APPEND _h "static const GUID CLSID_${CLASS} = {0x${_a}, 0x${_b}, 0x${_c}, {${_bytes}}};\n")
  endforeach()
  file(WRITE ${DIR}/unserved_classes.h.tmp "${_h}")
  configure_file(${DIR}/unserved_classes.h.tmp ${DIR}/unserved_classes.h COPYONLY)
endfunction()
