# Debian's exported ParaView targets list Python files that no package installs, and CMake's
# generated import check stops the configure on the first of them. When the check reads its list
# of targets, the watch below drops the missing files from each target's list, so that only the
# files present are checked. The imported targets themselves are unchanged.
function(_kestrel_drop_missing_imports variable access)
  if(NOT access STREQUAL "READ_ACCESS")
    return()
  endif()
  foreach(target IN LISTS ${variable})
    set(present)
    foreach(file IN LISTS _cmake_import_check_files_for_${target})
      if(EXISTS "${file}")
        list(APPEND present "${file}")
      endif()
    endforeach()
    set(_cmake_import_check_files_for_${target} "${present}" PARENT_SCOPE)
  endforeach()
endfunction()
variable_watch(_cmake_import_check_targets _kestrel_drop_missing_imports)

# The VTK wrapping hierarchy files of the imported modules are shipped by python3-paraview; when
# that package was unpacked under `root` instead of installed, point each target there.
function(kestrel_redirect_hierarchy_files root)
  if(NOT root)
    return()
  endif()
  get_property(targets DIRECTORY PROPERTY IMPORTED_TARGETS)
  foreach(target IN LISTS targets)
    get_property(file TARGET ${target} PROPERTY INTERFACE_vtk_module_hierarchy)
    if(file AND NOT EXISTS "${file}" AND EXISTS "${root}${file}")
      set_property(TARGET ${target} PROPERTY INTERFACE_vtk_module_hierarchy "${root}${file}")
    endif()
  endforeach()
endfunction()
