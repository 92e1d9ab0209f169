# Per-target warning and sanitizer flags: call dorvantis_target_defaults(target)
# on every target of the project instead of setting directory-wide flags.
function(dorvantis_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(DORVANTIS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(DORVANTIS_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
