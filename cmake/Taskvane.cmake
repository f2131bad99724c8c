# Shared build settings for the project's own targets.

set(TASKVANE_WARNINGS -Wall -Wextra -Werror)

# Most of a build's time goes into reading the Qt, GoogleTest and standard headers anew for every
# source: each group of targets that shares compile flags reads them once, into a precompiled
# header that the group's first target makes and the others reuse.
option(TASKVANE_PCH "Precompile the headers most sources read" ON)

# lld links the test programs several times faster than the default linker.
find_program(TASKVANE_LLD ld.lld)
if(TASKVANE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# taskvane_precompile(<target> <group> <header>): the target reads <header> precompiled; the first
# target of a group makes it, the others reuse it (so they must have the first one's definitions
# or more, and the same compile options).
function(taskvane_precompile target group header)
  if(NOT TASKVANE_PCH)
    return()
  endif()
  get_property(maker GLOBAL PROPERTY TASKVANE_PCH_${group})
  if(maker)
    target_precompile_headers(${target} REUSE_FROM ${maker})
  else()
    target_precompile_headers(${target} PRIVATE ${header})
    set_property(GLOBAL PROPERTY TASKVANE_PCH_${group} ${target})
  endif()
endfunction()

if(TASKVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TASKVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# taskvane_library(<name> [DEPS ...] [EXCLUDE regex...] [ONLY regex...]): a static library of
# every source below the current directory, less those EXCLUDE matches, or only those ONLY
# matches. Sources are globbed so that a new unit needs no edit here.
function(taskvane_library name)
  cmake_parse_arguments(TL "" "" "DEPS;EXCLUDE;ONLY" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(ex IN LISTS TL_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(TL_ONLY)
    set(kept)
    foreach(only IN LISTS TL_ONLY)
      set(some ${srcs})
      list(FILTER some INCLUDE REGEX "${only}")
      list(APPEND kept ${some})
    endforeach()
    set(srcs ${kept})
  endif()
  add_library(${name} STATIC ${srcs})
  # Sources include "<folder>/<file>.h". The library's include folder holds its own folder
  # alone; the folders below come with the libraries it links, and those above stay out of
  # reach (scripts/layers.sh names the one rule for both).
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(view ${PROJECT_BINARY_DIR}/include/${folder})
  if(NOT IS_SYMLINK ${view}/${folder})
    file(MAKE_DIRECTORY ${view})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${view}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${name} PUBLIC ${view})
  target_compile_options(${name} PRIVATE ${TASKVANE_WARNINGS})
  target_link_libraries(${name} PUBLIC ${TL_DEPS})
  if(folder MATCHES "^(ui|skin)$")
    taskvane_precompile(${name} widgets ${PROJECT_SOURCE_DIR}/cmake/precompiled/Widgets.h)
  else()
    taskvane_precompile(${name} core ${PROJECT_SOURCE_DIR}/cmake/precompiled/Core.h)
  endif()
endfunction()

function(taskvane_warnings target)
  target_compile_options(${target} PRIVATE ${TASKVANE_WARNINGS})
endfunction()

# taskvane_pictures(<target> <name> <resource folder> <png folder>): embeds every PNG file of the
# folder in the library as <resource folder>/<file>, uncompressed, so that the program reads the
# bytes where they lie.
function(taskvane_pictures target name prefix dir)
  file(GLOB pngs CONFIGURE_DEPENDS ${dir}/*.png)
  qt_add_resources(${target} ${name} PREFIX ${prefix} BASE ${dir} FILES ${pngs} OPTIONS -no-compress)
endfunction()
