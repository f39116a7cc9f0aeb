find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(ICU REQUIRED COMPONENTS uc i18n data)
find_package(nlohmann_json 3 REQUIRED)
find_package(PNG REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
pkg_check_modules(TESSERACT REQUIRED IMPORTED_TARGET tesseract lept)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)

if(VISTREL_BUILD_BENCH AND NOT VISTREL_SANITIZE)
  find_package(benchmark REQUIRED)
endif()

if(NOT VISTREL_CORE_ONLY)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus Network Test)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET
    xcb xcb-shm xcb-randr xcb-screensaver xcb-dpms xcb-keysyms xcb-ewmh xcb-icccm xcb-xtest)
endif()
