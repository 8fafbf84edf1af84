# The library, in three targets built from one compilation:
#  - vidozir_platform: platform/, the Win32 stand-ins of the Linux build and
#    the readers the system lacks there. An internal static library with
#    hidden symbols: nothing of it leaves libvidozir.so but the few Win32
#    calls that the interface makes callers use (platform/public/vidozir_wincalls.h).
#  - vidozir: the shared library that ships (vidozir.dll, libvidozir.so).
#  - vidozir_static: the same objects as a static library, for the tests
#    (as libuv's tests link uv_a), so a test and the library share one
#    handle table and reach internal engines directly.
# Sources are chosen per platform by file name (`*_win32.cpp` only on
# Windows, `*_posix.cpp` everywhere else); a new platform/*.cpp file joins
# vidozir_platform by the glob, with no edit here.
set(VIDOZIR_DIRS foundation msgloop buffer markup diskutil version system)

function(vidozir_platform_filter var)
  if(WIN32)
    list(FILTER ${var} EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER ${var} EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

function(vidozir_strict target)  # a warning in library code is a bug
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  endif()
endfunction()

# What every user of the library sees: the public headers and Boost.
function(vidozir_usage target)
  target_include_directories(${target}
    PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/platform/public>
      $<INSTALL_INTERFACE:include>)
  target_link_libraries(${target} PUBLIC Boost::boost)
  if(WIN32)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
  endif()
endfunction()

file(GLOB VIDOZIR_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/*.cpp)
vidozir_platform_filter(VIDOZIR_PLATFORM_SOURCES)
add_library(vidozir_platform STATIC ${VIDOZIR_PLATFORM_SOURCES})
set_target_properties(vidozir_platform PROPERTIES POSITION_INDEPENDENT_CODE ON
                      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
vidozir_usage(vidozir_platform)
vidozir_strict(vidozir_platform)
# Its sources include "platform/..." only, never a folder above it: its include
# root is a folder that holds nothing but a link to platform/.
set(platform_root ${CMAKE_BINARY_DIR}/platform-root)
file(MAKE_DIRECTORY ${platform_root})
if(NOT EXISTS ${platform_root}/platform)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/platform ${platform_root}/platform SYMBOLIC)
endif()
target_include_directories(vidozir_platform PRIVATE ${platform_root})
target_compile_definitions(vidozir_platform PRIVATE VIDOZIR_BUILD)
target_link_libraries(vidozir_platform PRIVATE Threads::Threads)
if(NOT WIN32)
  target_link_libraries(vidozir_platform PRIVATE ICU::uc ICU::data SQLite::SQLite3 OpenSSL::SSL
                                                 OpenSSL::Crypto PkgConfig::SYSTEMD ${CMAKE_DL_LIBS} rt)
  # Some thread-locals of the stand-ins are read on every task of a loop (the
  # last error, a thread's last completion port): the initial-exec model
  # reaches them at a fixed offset from the thread pointer, where the default
  # model of a shared library calls __tls_get_addr each time. All of them take
  # a few hundred bytes of the static TLS block, well inside what glibc keeps
  # spare for a library opened with dlopen.
  target_compile_options(vidozir_platform PRIVATE -ftls-model=initial-exec)
endif()

set(VIDOZIR_SOURCES)
foreach(dir ${VIDOZIR_DIRS})
  file(GLOB dir_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  list(APPEND VIDOZIR_SOURCES ${dir_sources})
endforeach()
vidozir_platform_filter(VIDOZIR_SOURCES)

add_library(vidozir_objects OBJECT ${VIDOZIR_SOURCES})
vidozir_usage(vidozir_objects)
vidozir_strict(vidozir_objects)
# Calls inside the library go straight to its own functions, which may then be
# inlined, as in the DLL: no one replaces an exported function of this library
# by one of the same name elsewhere (the editing calls of the XML document are
# many small exported members calling one another).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
  target_compile_options(vidozir_objects PRIVATE -fno-semantic-interposition)
endif()
target_compile_definitions(vidozir_objects PRIVATE VIDOZIR_BUILD)
target_include_directories(vidozir_objects PRIVATE ${PROJECT_SOURCE_DIR})

add_library(vidozir SHARED $<TARGET_OBJECTS:vidozir_objects>)
add_library(VidOzir::vidozir ALIAS vidozir)
add_library(vidozir_static STATIC $<TARGET_OBJECTS:vidozir_objects>)
foreach(target vidozir vidozir_static)
  vidozir_usage(${target})
endforeach()
target_link_libraries(vidozir PRIVATE vidozir_platform Threads::Threads)
# Users of the static library link platform/ with it and declare the interface
# without DLL import (VIDOZIR_STATIC).
target_link_libraries(vidozir_static PUBLIC vidozir_platform Threads::Threads)
target_compile_definitions(vidozir_static INTERFACE VIDOZIR_STATIC)
if(WIN32)
  set(VIDOZIR_SYSTEM_LIBS user32 advapi32 shell32 shlwapi ws2_32 psapi wintrust crypt32 version
                          ole32 wtsapi32 secur32)
  target_link_libraries(vidozir PRIVATE ${VIDOZIR_SYSTEM_LIBS})
  target_link_libraries(vidozir_static PUBLIC ${VIDOZIR_SYSTEM_LIBS})
  set_target_properties(vidozir PROPERTIES PREFIX "")  # vidozir.dll, not libvidozir.dll
  if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The COM entry points are stdcall; Windows looks them up by their plain
    # names, without the "@n" suffix that i686 gives stdcall functions.
    target_link_options(vidozir PRIVATE -Wl,--kill-at)
  endif()
  if(MINGW)
    # The mingw runtime DLLs travel with the binaries so Wine (and a copied
    # folder) finds them without a search path.
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                      OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
        find_file(dll_path_found ${dll} PATHS /usr/${VIDOZIR_MINGW_TRIPLE}/lib NO_DEFAULT_PATH)
        set(dll_path ${dll_path_found})
        unset(dll_path_found CACHE)
      endif()
      if(dll_path AND EXISTS "${dll_path}")
        file(COPY ${dll_path} DESTINATION ${CMAKE_BINARY_DIR}/bin)
      endif()
    endforeach()
  endif()
else()
  set_target_properties(vidozir PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

# Installation and the exported package: find_package(vidozir) gives VidOzir::vidozir.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
install(TARGETS vidozir EXPORT vidozirTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY platform/public/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT vidozirTargets NAMESPACE VidOzir:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vidozir)
configure_package_config_file(cmake/vidozirConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vidozirConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vidozir)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vidozirConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vidozirConfig.cmake ${CMAKE_BINARY_DIR}/vidozirConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vidozir)
configure_file(cmake/vidozir.pc.in ${CMAKE_BINARY_DIR}/vidozir.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vidozir.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
