# Version information for every deliverable: the program, streamconv.dll,
# the wrappers, the effects and qvrender carry the same product name and
# version, each with its own file description, so Windows' file properties
# and installers see what a file is. Only the VERSIONINFO resource lives in
# the generated script: the modules' own .rc files (dialogs, pictures) are
# compiled beside it, and no other resource id is taken here.

set(QV_PRODUCT_NAME "Quorvane Live")
set(QV_COMPANY_NAME "Quorvane Software")
set(QV_VERSION_MAJOR 1)
set(QV_VERSION_MINOR 21)
set(QV_VERSION "${QV_VERSION_MAJOR}.${QV_VERSION_MINOR}")

# Descriptions by target; a deliverable missing here still gets one.
set(QV_DESCRIPTION_QuorvaneLive "Quorvane Live")
set(QV_DESCRIPTION_qvrender "Quorvane Live offline renderer")
set(QV_DESCRIPTION_streamconv "Quorvane Live sample stream converter")
set(QV_DESCRIPTION_defwrapper "Quorvane Live wrapper for the built-in effects")
set(QV_DESCRIPTION_vstwrapper "Quorvane Live wrapper for VST 2 plug-ins")
set(QV_DESCRIPTION_vst3wrapper "Quorvane Live wrapper for VST 3 plug-ins")
set(QV_DESCRIPTION_reverb "Quorvane Live Reverb effect")
set(QV_DESCRIPTION_echo "Quorvane Live Echo effect")
set(QV_DESCRIPTION_flanger "Quorvane Live Flanger effect")
set(QV_DESCRIPTION_chorus "Quorvane Live Chorus effect")

# Adds the version resource to TARGET (Windows builds only).
function(qv_version_resource target)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QV_FILE_TYPE "0x1L") # VFT_APP
    set(QV_FILE_SUFFIX ".exe")
  elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(QV_FILE_TYPE "0x2L") # VFT_DLL
    set(QV_FILE_SUFFIX ".dll")
  else()
    return()
  endif()
  if(DEFINED QV_DESCRIPTION_${target})
    set(QV_FILE_DESCRIPTION "${QV_DESCRIPTION_${target}}")
  else()
    set(QV_FILE_DESCRIPTION "${QV_PRODUCT_NAME} ${target}")
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(QV_ORIGINAL_FILENAME "${output_name}${QV_FILE_SUFFIX}")
  set(rc "${CMAKE_BINARY_DIR}/version/${target}_version.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
