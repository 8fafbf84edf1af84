# Third-party packages the library itself links. Test- and benchmark-only
# dependencies are found where they are used.
find_package(Threads REQUIRED)

if(CMAKE_CROSSCOMPILING AND WIN32)
  # Boost is header-only for us, so the cross build uses the host's headers.
  # They are reached through a folder holding only `boost/`: putting
  # /usr/include itself on the path would shadow the mingw C library.
  set(boost_shim ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${boost_shim})
  if(NOT EXISTS ${boost_shim}/boost)
    file(CREATE_LINK /usr/include/boost ${boost_shim}/boost SYMBOLIC)
  endif()
  add_library(Boost::boost INTERFACE IMPORTED)
  set_target_properties(Boost::boost PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${boost_shim})
else()
  find_package(Boost 1.70 REQUIRED)
endif()

if(NOT WIN32)
  find_package(ICU REQUIRED COMPONENTS uc data)
  find_package(SQLite3 REQUIRED)
  find_package(OpenSSL REQUIRED)
  # sd-bus: the session-bus call to the file manager ("open folder and select").
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
endif()
