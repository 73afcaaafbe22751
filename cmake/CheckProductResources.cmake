# Script mode: fails unless FILE (a product binary) embeds the product's message catalogue and no test
# catalogue.
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "${FILE} does not exist")
endif()
file(STRINGS "${FILE}" names REGEX "rszorvik\\.(test\\.|zorvik\\.properties)")
set(leaked ${names})
list(FILTER leaked INCLUDE REGEX "rszorvik\\.test\\.")
if(leaked)
  message(FATAL_ERROR "${FILE} holds test catalogues: ${leaked}")
endif()
if(NOT names)
  message(FATAL_ERROR "${FILE} holds no rszorvik.zorvik.properties: is it a zorvik binary?")
endif()
