# LANYARD_SANITIZERS applies to every target of the build (libraries, tools, tests).
if(LANYARD_SANITIZERS)
  string(REPLACE "," ";" _lanyard_san_list "${LANYARD_SANITIZERS}")
  foreach(_san IN LISTS _lanyard_san_list)
    add_compile_options(-fsanitize=${_san})
    add_link_options(-fsanitize=${_san})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()
