# Libraries are split by area so that each can be built and tested alone:
#   velkor_platform  runtime/platform + the log (launcher/launcher_stubs)
#   velkor_gamedata  folders, virtual file system, settings
#   velkor_art       RCF/P3D art, fonts, PNG
#   velkor_launcher  the installer program without main()
set(VELKOR_WARNINGS -Wall -Wextra)
set(VELKOR_ROOT ${PROJECT_SOURCE_DIR})

function(velkor_target_defaults target)
  target_compile_options(${target} PRIVATE ${VELKOR_WARNINGS})
  target_include_directories(${target} PUBLIC ${VELKOR_ROOT})
endfunction()

file(GLOB VELKOR_PLATFORM_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/runtime/platform/*.cpp)
list(APPEND VELKOR_PLATFORM_SRC ${VELKOR_ROOT}/launcher/launcher_stubs.cpp)
add_library(velkor_platform STATIC ${VELKOR_PLATFORM_SRC})
velkor_target_defaults(velkor_platform)
target_include_directories(velkor_platform SYSTEM PUBLIC ${STB_INCLUDE_DIR})
if(VULKAN_INCLUDE_DIR)
  target_include_directories(velkor_platform SYSTEM PUBLIC ${VULKAN_INCLUDE_DIR})
endif()
target_link_libraries(velkor_platform PUBLIC SDL3::SDL3 Threads::Threads ${CMAKE_DL_LIBS})

file(GLOB VELKOR_GAMEDATA_SRC CONFIGURE_DEPENDS
  ${VELKOR_ROOT}/runtime/*.cpp ${VELKOR_ROOT}/runtime/fs/*.cpp ${VELKOR_ROOT}/runtime/settings/*.cpp)
list(FILTER VELKOR_GAMEDATA_SRC EXCLUDE REGEX "/(menu_art|language_font)[^/]*\\.cpp$")
add_library(velkor_gamedata STATIC ${VELKOR_GAMEDATA_SRC})
velkor_target_defaults(velkor_gamedata)
target_link_libraries(velkor_gamedata PUBLIC velkor_platform)

file(GLOB VELKOR_ART_SRC CONFIGURE_DEPENDS
  ${VELKOR_ROOT}/runtime/settings/menu_art*.cpp ${VELKOR_ROOT}/runtime/settings/language_font*.cpp
  ${VELKOR_ROOT}/runtime/gpu/*.cpp)
add_library(velkor_art STATIC ${VELKOR_ART_SRC})
velkor_target_defaults(velkor_art)
target_link_libraries(velkor_art PUBLIC velkor_gamedata)

file(GLOB VELKOR_LAUNCHER_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/launcher/*.cpp)
list(FILTER VELKOR_LAUNCHER_SRC EXCLUDE REGEX "/(main|launcher_stubs|xex_digest)\\.cpp$")
add_library(velkor_launcher STATIC ${VELKOR_LAUNCHER_SRC})
velkor_target_defaults(velkor_launcher)
target_link_libraries(velkor_launcher PUBLIC velkor_art imgui)

# The supported default.xex digest is one small object, so that the same code
# can be linked with the synthetic demo dump's digest.
add_library(velkor_digest_default OBJECT ${VELKOR_ROOT}/launcher/xex_digest.cpp)
target_compile_definitions(velkor_digest_default PRIVATE VELKOR_XEX_SHA256="${VELKOR_XEX_SHA256}")
target_include_directories(velkor_digest_default PRIVATE ${VELKOR_ROOT})
add_library(velkor_digest_synthetic OBJECT ${VELKOR_ROOT}/launcher/xex_digest.cpp)
target_compile_definitions(velkor_digest_synthetic PRIVATE VELKOR_XEX_SHA256="${VELKOR_SYNTHETIC_XEX_SHA256}")
target_include_directories(velkor_digest_synthetic PRIVATE ${VELKOR_ROOT})

# The program sits directly in the build folder, one level below the checkout,
# so that it recognises its development layout.
add_executable(VelkorLauncher ${VELKOR_ROOT}/launcher/main.cpp)
velkor_target_defaults(VelkorLauncher)
target_link_libraries(VelkorLauncher PRIVATE velkor_launcher velkor_digest_default)
set_target_properties(VelkorLauncher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The same program accepting the synthetic demo dump: build/synthetic/VelkorLauncher.
add_executable(VelkorLauncherSynthetic ${VELKOR_ROOT}/launcher/main.cpp)
velkor_target_defaults(VelkorLauncherSynthetic)
target_link_libraries(VelkorLauncherSynthetic PRIVATE velkor_launcher velkor_digest_synthetic)
set_target_properties(VelkorLauncherSynthetic PROPERTIES OUTPUT_NAME VelkorLauncher
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/synthetic)

# Fixture writers (RCF archives, P3D packages, fonts) shared by tests and tools.
file(GLOB VELKOR_TESTSUPPORT_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/tests/support/*.cpp)
if(VELKOR_TESTSUPPORT_SRC)
  add_library(velkor_testsupport STATIC ${VELKOR_TESTSUPPORT_SRC})
  velkor_target_defaults(velkor_testsupport)
  target_link_libraries(velkor_testsupport PUBLIC velkor_art)
endif()

# tools/<name>.cpp -> build/<name>
file(GLOB VELKOR_TOOL_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/tools/*.cpp)
foreach(src ${VELKOR_TOOL_SRC})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  velkor_target_defaults(${name})
  target_link_libraries(${name} PRIVATE velkor_launcher velkor_digest_synthetic)
  if(TARGET velkor_testsupport)
    target_link_libraries(${name} PRIVATE velkor_testsupport)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  list(APPEND VELKOR_TOOLS ${name})
endforeach()

# The DLSS module is its own shared library.
file(GLOB VELKOR_DLSS_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/runtime/gpu/dlss_module/*.cpp)
if(VELKOR_DLSS_SRC)
  add_library(VelkorDlss SHARED ${VELKOR_DLSS_SRC})
  velkor_target_defaults(VelkorDlss)
  target_include_directories(VelkorDlss SYSTEM PRIVATE ${VULKAN_INCLUDE_DIR})
  target_link_libraries(VelkorDlss PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
  set_target_properties(VelkorDlss PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    CXX_VISIBILITY_PRESET hidden)
endif()

# Which library a test links follows from its name: tests/<area>_<what>_test.cpp.
function(velkor_area_library file out)
  get_filename_component(name ${file} NAME_WE)
  string(REGEX MATCH "^[a-z]+" area ${name})
  if(area STREQUAL "platform")
    set(${out} velkor_platform PARENT_SCOPE)
  elseif(area STREQUAL "gamedata")
    set(${out} velkor_gamedata PARENT_SCOPE)
  elseif(area STREQUAL "art")
    set(${out} velkor_art PARENT_SCOPE)
  else()
    set(${out} velkor_launcher PARENT_SCOPE)
  endif()
endfunction()

set(VELKOR_TEST_DEFS
  VELKOR_SOURCE_DIR="${VELKOR_ROOT}"
  VELKOR_BUILD_DIR="${CMAKE_BINARY_DIR}"
  VELKOR_LAUNCHER_BIN="$<TARGET_FILE:VelkorLauncher>"
  VELKOR_SYNTHETIC_LAUNCHER_BIN="$<TARGET_FILE:VelkorLauncherSynthetic>"
  VELKOR_DEFAULT_XEX_SHA256="${VELKOR_XEX_SHA256}"
  VELKOR_SYNTHETIC_XEX_SHA256="${VELKOR_SYNTHETIC_XEX_SHA256}")

if(VELKOR_TESTS)
  enable_testing()
  include(GoogleTest)
  file(GLOB VELKOR_TEST_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/tests/*_test.cpp)
  foreach(src ${VELKOR_TEST_SRC})
    get_filename_component(name ${src} NAME_WE)
    velkor_area_library(${src} lib)
    add_executable(${name} ${src})
    velkor_target_defaults(${name})
    target_compile_definitions(${name} PRIVATE ${VELKOR_TEST_DEFS})
    target_link_libraries(${name} PRIVATE ${lib} GTest::gtest GTest::gtest_main)
    if(lib STREQUAL "velkor_launcher")
      # In-process tests accept the synthetic dump.
      target_link_libraries(${name} PRIVATE velkor_digest_synthetic)
    endif()
    if(TARGET velkor_testsupport AND NOT lib STREQUAL "velkor_platform" AND NOT lib STREQUAL "velkor_gamedata")
      target_link_libraries(${name} PRIVATE velkor_testsupport)
    endif()
    # Black-box tests run the program and the tools.
    add_dependencies(${name} VelkorLauncher VelkorLauncherSynthetic ${VELKOR_TOOLS})
    if(TARGET VelkorDlss)
      add_dependencies(${name} VelkorDlss)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "VELKOR_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
  endforeach()

  # The GPU tests load stand-ins of ours: a Vulkan loader (libvulkan.so.1, found
  # through LD_LIBRARY_PATH) and DLSS modules (libVelkorDlss.so), each in a folder
  # of its own under the build folder.
  add_library(velkor_vulkan_standin SHARED ${VELKOR_ROOT}/tests/support/vulkan_standin/vulkan_standin.c)
  add_library(velkor_dlss_standin SHARED ${VELKOR_ROOT}/tests/support/dlss_standin/dlss_standin.c)
  add_library(velkor_dlss_noprobe SHARED ${VELKOR_ROOT}/tests/support/dlss_standin/dlss_noprobe.c)
  target_include_directories(velkor_vulkan_standin SYSTEM PRIVATE ${VULKAN_INCLUDE_DIR})
  set_target_properties(velkor_vulkan_standin PROPERTIES OUTPUT_NAME vulkan SUFFIX .so.1
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/vulkan_standin)
  set_target_properties(velkor_dlss_standin PROPERTIES OUTPUT_NAME VelkorDlss
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dlss_standin/probe)
  set_target_properties(velkor_dlss_noprobe PROPERTIES OUTPUT_NAME VelkorDlss
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dlss_standin/noprobe)
  file(GLOB VELKOR_GPU_TEST_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/tests/launcher_gpu_*_test.cpp)
  foreach(src ${VELKOR_GPU_TEST_SRC})
    get_filename_component(name ${src} NAME_WE)
    add_dependencies(${name} velkor_vulkan_standin velkor_dlss_standin velkor_dlss_noprobe)
    target_compile_definitions(${name} PRIVATE
      VELKOR_VULKAN_STANDIN_DIR="${CMAKE_BINARY_DIR}/vulkan_standin"
      VELKOR_DLSS_STANDIN_DIR="${CMAKE_BINARY_DIR}/dlss_standin/probe"
      VELKOR_DLSS_NOPROBE_DIR="${CMAKE_BINARY_DIR}/dlss_standin/noprobe")
  endforeach()
endif()

# tests/fuzz/<name>_fuzz.cpp: libFuzzer targets with -DVELKOR_FUZZ=ON (clang);
# otherwise built with a replay driver that runs the stored corpus as a test.
file(GLOB VELKOR_FUZZ_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/tests/fuzz/*_fuzz.cpp)
foreach(src ${VELKOR_FUZZ_SRC})
  get_filename_component(name ${src} NAME_WE)
  if(VELKOR_FUZZ)
    add_executable(${name} ${src})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${src} ${VELKOR_ROOT}/tests/fuzz/replay_main.cpp)
    if(VELKOR_TESTS)
      add_test(NAME ${name}_corpus COMMAND ${name} ${VELKOR_ROOT}/tests/fuzz/corpus/${name})
    endif()
  endif()
  velkor_target_defaults(${name})
  target_link_libraries(${name} PRIVATE velkor_art)
  if(TARGET velkor_testsupport)
    target_link_libraries(${name} PRIVATE velkor_testsupport)
  endif()
endforeach()

if(VELKOR_BENCH AND benchmark_FOUND)
  file(GLOB VELKOR_BENCH_SRC CONFIGURE_DEPENDS ${VELKOR_ROOT}/bench/*_bench.cpp)
  foreach(src ${VELKOR_BENCH_SRC})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_${name} ${src})
    velkor_target_defaults(bench_${name})
    target_compile_definitions(bench_${name} PRIVATE ${VELKOR_TEST_DEFS})
    target_link_libraries(bench_${name} PRIVATE velkor_launcher velkor_digest_synthetic benchmark::benchmark)
    if(TARGET velkor_testsupport)
      target_link_libraries(bench_${name} PRIVATE velkor_testsupport)
    endif()
    set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endforeach()
endif()
