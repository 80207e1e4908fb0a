# The core (platform, monitor, notify, nettools, the model, the service) runs where there is no display:
# it links Qt Core, Network, D-Bus and the keychain library, never a graphics library. netquill_core_target(<target>) records a target of the core; once the whole project is
# configured, every library each recorded target reaches (through its own links, other targets and
# imported packages alike) is checked, and configuring fails on the first graphics library found.

set_property(GLOBAL PROPERTY NETQUILL_CORE_TARGETS "")

# Qt's graphics modules, as targets (Qt6::Gui, Qt::Widgets, Qt6::WebEngineWidgets...) or as files.
set(NETQUILL_GRAPHICS_LIBRARY_REGEX
    "^Qt[0-9]*::(Gui|[A-Za-z]*Widgets|OpenGL|WebEngine)[A-Za-z]*$|(^|/)(lib)?Qt[0-9]*(Gui|[A-Za-z]*Widgets|OpenGL|WebEngine)[A-Za-z]*[.]")

function(netquill_core_target target)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "netquill_core_target: no target named ${target}")
  endif()
  set_property(GLOBAL APPEND PROPERTY NETQUILL_CORE_TARGETS ${target})
endfunction()

# The names one entry of a link list may stand for. Generator expressions are not evaluated: every
# name inside one counts, whatever the condition, so a graphics library behind a condition is caught.
function(_netquill_link_names entry out)
  if(entry MATCHES "[$]<")
    string(REGEX MATCHALL "[A-Za-z0-9_.+/-]+(::[A-Za-z0-9_.+-]+)*" names "${entry}")
  else()
    set(names "${entry}")
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# Sets <out> to the chain "target -> ... -> library" to the first graphics library reachable from
# <target>, or to an empty string. Each target is walked once per check (_NETQUILL_CORE_SEEN).
function(_netquill_find_graphics target chain out)
  set(${out} "" PARENT_SCOPE)
  get_target_property(aliased ${target} ALIASED_TARGET)
  if(aliased)
    set(target ${aliased})
  endif()
  get_property(seen GLOBAL PROPERTY _NETQUILL_CORE_SEEN)
  if(target IN_LIST seen)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY _NETQUILL_CORE_SEEN ${target})

  set(entries "")
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES IMPORTED_LINK_DEPENDENT_LIBRARIES)
    get_target_property(value ${target} ${property})
    if(value)
      list(APPEND entries ${value})
    endif()
  endforeach()
  foreach(entry IN LISTS entries)
    _netquill_link_names("${entry}" names)
    foreach(name IN LISTS names)
      if(name MATCHES "${NETQUILL_GRAPHICS_LIBRARY_REGEX}")
        set(${out} "${chain} -> ${name}" PARENT_SCOPE)
        return()
      endif()
      if(TARGET ${name})
        _netquill_find_graphics(${name} "${chain} -> ${name}" found)
        if(found)
          set(${out} "${found}" PARENT_SCOPE)
          return()
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()

function(_netquill_check_core_targets)
  get_property(targets GLOBAL PROPERTY NETQUILL_CORE_TARGETS)
  foreach(target IN LISTS targets)
    set_property(GLOBAL PROPERTY _NETQUILL_CORE_SEEN "")
    _netquill_find_graphics(${target} ${target} found)
    if(found)
      message(FATAL_ERROR "${target} is a core target and must link no graphics library (Qt Core, Network, D-Bus and the keychain only), "
                          "but it reaches a graphics library: ${found}")
    endif()
  endforeach()
endfunction()

# Run after every directory has added its targets and links.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _netquill_check_core_targets)
