# Shared build settings and the helper that turns one source folder into one library.

add_library(plovander_options INTERFACE)
target_compile_options(plovander_options INTERFACE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
                                                   -Wold-style-cast -Wcast-align -Woverloaded-virtual)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(plovander_options INTERFACE -Wshadow=local)
endif()
target_compile_definitions(plovander_options INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED QT_NO_KEYWORDS)
if(PLOVANDER_WERROR)
  target_compile_options(plovander_options INTERFACE -Werror)
endif()
if(PLOVANDER_SANITIZE)
  target_compile_options(plovander_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                                     -fno-omit-frame-pointer)
  target_link_options(plovander_options INTERFACE -fsanitize=address,undefined)
endif()

# plovander_library(<target> FOLDERS <dir>... [LINK <lib>...])
# Every source and header in the folders (not in subfolders) belongs to the library; listing the
# headers lets moc follow the observable models as they are added.
function(plovander_library target)
  cmake_parse_arguments(ARG "" "" "FOLDERS;LINK" ${ARGN})
  set(sources)
  set(headers)
  foreach(folder IN LISTS ARG_FOLDERS)
    file(GLOB found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp" "${PROJECT_SOURCE_DIR}/${folder}/*.c")
    list(APPEND sources ${found})
    file(GLOB found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h")
    list(APPEND headers ${found})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${target} PUBLIC ${ARG_LINK} PRIVATE plovander_options)
  else()
    # A layer with no sources yet still takes part in the dependency graph.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${target} INTERFACE ${ARG_LINK})
  endif()
endfunction()
