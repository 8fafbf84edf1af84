# The library: every source of the subsystem folders, chosen per platform by
# file name (`*_win32.cpp` only on Windows, `*_posix.cpp` everywhere else).
set(VIDOZIR_DIRS foundation msgloop buffer markup diskutil version system platform)

set(VIDOZIR_SOURCES)
foreach(dir ${VIDOZIR_DIRS})
  file(GLOB dir_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  list(APPEND VIDOZIR_SOURCES ${dir_sources})
endforeach()
if(WIN32)
  list(FILTER VIDOZIR_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
else()
  list(FILTER VIDOZIR_SOURCES EXCLUDE REGEX "_win32\\.cpp$")
endif()

add_library(vidozir SHARED ${VIDOZIR_SOURCES})
add_library(VidOzir::vidozir ALIAS vidozir)
target_compile_definitions(vidozir PRIVATE VIDOZIR_BUILD)
target_include_directories(vidozir
  PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/platform/public>
    $<INSTALL_INTERFACE:include>
  PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vidozir PUBLIC Boost::boost PRIVATE Threads::Threads)
if(WIN32)
  set_target_properties(vidozir PROPERTIES PREFIX "")  # vidozir.dll, not libvidozir.dll
else()
  set_target_properties(vidozir PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(vidozir PRIVATE -Wall -Wextra -Werror)
elseif(MSVC)
  target_compile_options(vidozir PRIVATE /W4 /WX)
endif()

if(WIN32)
  target_compile_definitions(vidozir PUBLIC UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
  target_link_libraries(vidozir PRIVATE user32 advapi32 shell32 shlwapi ws2_32 psapi
                                        wintrust crypt32 version ole32 wtsapi32 secur32)
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
  target_link_libraries(vidozir PRIVATE ICU::uc ICU::data SQLite::SQLite3 OpenSSL::SSL
                                        OpenSSL::Crypto PkgConfig::SYSTEMD ${CMAKE_DL_LIBS} rt)
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
