# libpcap, the judge the capture reader's tests and fuzz target compare with (never linked into
# the product, which must build for Windows without it). Debian ships pcap.pc. Defines
# kesto_dep::pcap when found; native builds only.
include_guard(GLOBAL)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(PCAP QUIET IMPORTED_TARGET GLOBAL libpcap)
  endif()
  if(TARGET PkgConfig::PCAP)
    add_library(kesto_dep::pcap ALIAS PkgConfig::PCAP)
  endif()
endif()
