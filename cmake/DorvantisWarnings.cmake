# DORVANTIS_SANITIZE: OFF, ON (AddressSanitizer and UndefinedBehaviorSanitizer)
# or thread (ThreadSanitizer, which cannot share a build with the other two).
set_property(CACHE DORVANTIS_SANITIZE PROPERTY HELPSTRING
             "Sanitizers: OFF, ON (AddressSanitizer and UndefinedBehaviorSanitizer) or thread (ThreadSanitizer)")
set_property(CACHE DORVANTIS_SANITIZE PROPERTY STRINGS OFF ON thread)
string(TOUPPER "${DORVANTIS_SANITIZE}" _dorvantis_sanitize)
if(NOT _dorvantis_sanitize MATCHES "^(THREAD|ON|OFF|TRUE|FALSE|YES|NO|1|0)$")
  message(FATAL_ERROR "DORVANTIS_SANITIZE must be OFF, ON or thread, not '${DORVANTIS_SANITIZE}'")
endif()

# Per-target warning and sanitizer flags: call dorvantis_target_defaults(target)
# on every target of the project instead of setting directory-wide flags.
function(dorvantis_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(DORVANTIS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(DORVANTIS_SANITIZE STREQUAL "thread")
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  elseif(DORVANTIS_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
