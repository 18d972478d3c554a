# SDL3 and Dear ImGui come from Debian source packages that scripts/bootstrap
# prepares in a cache outside the checkout; a system SDL3 >= 3.2 wins.
if(DEFINED ENV{VELKOR_DEPS_CACHE})
  set(_deps_default "$ENV{VELKOR_DEPS_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_deps_default "$ENV{XDG_CACHE_HOME}/velkor-deps")
else()
  set(_deps_default "$ENV{HOME}/.cache/velkor-deps")
endif()
set(VELKOR_DEPS_CACHE "${_deps_default}" CACHE PATH "Folder prepared by scripts/bootstrap")

find_package(SDL3 3.2 CONFIG QUIET NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH)
if(NOT SDL3_FOUND)
  file(GLOB _sdl_stamps "${VELKOR_DEPS_CACHE}/sdl3-*/.built")
  list(SORT _sdl_stamps COMPARE NATURAL ORDER DESCENDING)
  if(NOT _sdl_stamps)
    message(FATAL_ERROR "SDL3 not found: run scripts/bootstrap first")
  endif()
  list(GET _sdl_stamps 0 _sdl_stamp)
  get_filename_component(_sdl_prefix "${_sdl_stamp}" DIRECTORY)
  find_package(SDL3 3.2 CONFIG REQUIRED PATHS "${_sdl_prefix}" NO_DEFAULT_PATH)
endif()
message(STATUS "SDL3 ${SDL3_VERSION} from ${SDL3_DIR}")

file(GLOB _imgui_stamps "${VELKOR_DEPS_CACHE}/imgui-*/.unpacked")
list(SORT _imgui_stamps COMPARE NATURAL ORDER DESCENDING)
if(NOT _imgui_stamps)
  message(FATAL_ERROR "Dear ImGui sources not found: run scripts/bootstrap first")
endif()
list(GET _imgui_stamps 0 _imgui_stamp)
get_filename_component(IMGUI_DIR "${_imgui_stamp}" DIRECTORY)
message(STATUS "Dear ImGui from ${IMGUI_DIR}")

add_library(imgui STATIC
  ${IMGUI_DIR}/imgui.cpp
  ${IMGUI_DIR}/imgui_draw.cpp
  ${IMGUI_DIR}/imgui_tables.cpp
  ${IMGUI_DIR}/imgui_widgets.cpp
  ${IMGUI_DIR}/imgui_demo.cpp
  ${IMGUI_DIR}/backends/imgui_impl_sdl3.cpp
  ${IMGUI_DIR}/backends/imgui_impl_sdlrenderer3.cpp)
target_include_directories(imgui SYSTEM PUBLIC ${IMGUI_DIR} ${IMGUI_DIR}/backends)
target_compile_definitions(imgui PUBLIC IMGUI_DISABLE_OBSOLETE_FUNCTIONS)
target_compile_options(imgui PRIVATE -w)
target_link_libraries(imgui PUBLIC SDL3::SDL3)

find_path(STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest QUIET)
find_package(benchmark QUIET)
find_path(VULKAN_INCLUDE_DIR vulkan/vulkan.h)
