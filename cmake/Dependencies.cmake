# Every library the project uses comes from Debian; scripts/deps installs them.

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets DBus)
find_package(QCoro6 0.8 REQUIRED COMPONENTS Core)

add_library(asio INTERFACE)
target_link_libraries(asio INTERFACE Threads::Threads)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil libswresample)
pkg_check_modules(X11LIBS REQUIRED IMPORTED_TARGET x11 xext xdamage xfixes xtst xrandr xi)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(ARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
# Character (grapheme cluster) boundaries outside Qt.
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)

# libyuv ships no pkg-config file.
find_library(LIBYUV_LIBRARY yuv REQUIRED)
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
add_library(libyuv INTERFACE)
target_link_libraries(libyuv INTERFACE ${LIBYUV_LIBRARY})
target_include_directories(libyuv SYSTEM INTERFACE ${LIBYUV_INCLUDE_DIR})

if(PLOVANDER_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(PLOVANDER_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
