# Warning flags for Kestrel's own targets: kestrel_set_warnings(<target>).
function(kestrel_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KESTREL_STRICT_WARNINGS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# An empty translation unit for a library whose sources have not been written yet.
function(kestrel_sources_or_placeholder out_var name)
  set(sources ${ARGN})
  if(NOT sources)
    set(placeholder ${PROJECT_BINARY_DIR}/generated/${name}_empty.cpp)
    file(WRITE ${placeholder} "// No sources yet.\n")
    set(sources ${placeholder})
  endif()
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
