# The third-party static libraries of the Windows build, as imported targets:
#   vistrel_mingw::turbojpeg  libjpeg-turbo's TurboJPEG API (turbojpeg.h)
#   vistrel_mingw::vpx        libvpx with the VP8 encoder alone (vpx/vp8cx.h)
#   vistrel_mingw::mkvmuxer   libwebm's muxer (mkvmuxer/mkvmuxer.h)
# tools/mingw-libs.sh builds them from Debian's source packages into a cache
# outside the clone. VISTREL_MINGW_LIBS names their prefix; left empty, the
# script is asked (with --cached, which builds nothing and needs no network)
# for its build of today's recipe. Outside a Windows build this does nothing.
if(NOT WIN32)
  return()
endif()

set(VISTREL_MINGW_LIBS "" CACHE PATH
  "Prefix of the mingw-w64 builds of libjpeg-turbo, libvpx and libwebm's muxer (empty: the one tools/mingw-libs.sh made)")
get_filename_component(vistrel_mingw_script ${CMAKE_CURRENT_LIST_DIR}/../tools/mingw-libs.sh ABSOLUTE)
# A changed recipe is a different cache entry: configure again to find it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vistrel_mingw_script})

set(vistrel_mingw_prefix ${VISTREL_MINGW_LIBS})
set(vistrel_mingw_problem "")
if(NOT vistrel_mingw_prefix)
  execute_process(COMMAND bash ${vistrel_mingw_script} --cached
    OUTPUT_VARIABLE vistrel_mingw_prefix ERROR_VARIABLE vistrel_mingw_problem
    RESULT_VARIABLE vistrel_mingw_status
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(vistrel_mingw_status EQUAL 0)
    set(vistrel_mingw_problem "")
  else()
    set(vistrel_mingw_prefix "")
    string(REGEX REPLACE "^mingw-libs: |; run tools/mingw-libs.sh$" "" vistrel_mingw_problem "${vistrel_mingw_problem}")
  endif()
endif()

set(vistrel_mingw_files
  include/turbojpeg.h lib/libturbojpeg.a
  include/vpx/vp8cx.h lib/libvpx.a
  include/libwebm/mkvmuxer/mkvmuxer.h lib/libmkvmuxer.a)
if(vistrel_mingw_prefix)
  foreach(file IN LISTS vistrel_mingw_files)
    if(NOT EXISTS ${vistrel_mingw_prefix}/${file})
      set(vistrel_mingw_problem "${vistrel_mingw_prefix} has no ${file}")
      break()
    endif()
  endforeach()
elseif(NOT vistrel_mingw_problem)
  set(vistrel_mingw_problem "tools/mingw-libs.sh --cached named no prefix")
endif()
if(vistrel_mingw_problem)
  message(FATAL_ERROR
    "The Windows build links libjpeg-turbo, libvpx and libwebm's muxer built for mingw-w64, "
    "and they are not there (${vistrel_mingw_problem}). Run\n"
    "  bash tools/mingw-libs.sh\n"
    "once: it builds them from Debian's source packages into a cache outside the clone "
    "(about two minutes the first time, then reused), and configure again. "
    "Or set VISTREL_MINGW_LIBS to a prefix that holds them.")
endif()
message(STATUS "mingw-w64 libraries: ${vistrel_mingw_prefix}")

if(NOT TARGET vistrel_mingw::turbojpeg)
  add_library(vistrel_mingw::turbojpeg STATIC IMPORTED)
  set_target_properties(vistrel_mingw::turbojpeg PROPERTIES
    IMPORTED_LOCATION ${vistrel_mingw_prefix}/lib/libturbojpeg.a
    INTERFACE_INCLUDE_DIRECTORIES ${vistrel_mingw_prefix}/include)

  # libvpx's threads are winpthreads (the posix-threads compiler's).
  add_library(vistrel_mingw::vpx STATIC IMPORTED)
  set_target_properties(vistrel_mingw::vpx PROPERTIES
    IMPORTED_LOCATION ${vistrel_mingw_prefix}/lib/libvpx.a
    INTERFACE_INCLUDE_DIRECTORIES ${vistrel_mingw_prefix}/include
    INTERFACE_LINK_LIBRARIES pthread)

  add_library(vistrel_mingw::mkvmuxer STATIC IMPORTED)
  set_target_properties(vistrel_mingw::mkvmuxer PROPERTIES
    IMPORTED_LOCATION ${vistrel_mingw_prefix}/lib/libmkvmuxer.a
    INTERFACE_INCLUDE_DIRECTORIES ${vistrel_mingw_prefix}/include/libwebm)
endif()
