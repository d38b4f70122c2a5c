# Lays out the two staging folders from scratch (so a file removed from sample/
# does not linger in a package) and checks that they fit together.
# Script mode; inputs: SAMPLE_DIR, SETUP_STAGE, PRODUCT_STAGE, STAMP, and
# BUILT_SETUP / BUILT_PRODUCT, "|"-separated items "built file>relative path".

cmake_minimum_required(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/CheckSample.cmake)

function(stage_tree source stage built)
  file(REMOVE_RECURSE ${stage})
  file(COPY ${source}/ DESTINATION ${stage})
  string(REPLACE "|" ";" built "${built}")
  foreach(item IN LISTS built)
    string(FIND "${item}" ">" split REVERSE)
    string(SUBSTRING "${item}" 0 ${split} file)
    math(EXPR split "${split} + 1")
    string(SUBSTRING "${item}" ${split} -1 target)
    get_filename_component(folder ${stage}/${target} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(COPY_FILE ${file} ${stage}/${target})
  endforeach()
endfunction()

stage_tree(${SAMPLE_DIR}/setup ${SETUP_STAGE} "${BUILT_SETUP}")
stage_tree(${SAMPLE_DIR}/product ${PRODUCT_STAGE} "${BUILT_PRODUCT}")
kivo_check_sample(${SETUP_STAGE} ${PRODUCT_STAGE})
file(TOUCH ${STAMP})
