# Writes the example's data-folder macro into the data folder that `brankel` itself
# resolves (General.ini DataPath, else the shared data folder's "data"), so a kind-0 call
# finds it the way a user's library macro is found.
# Usage: cmake -DBRANKEL=<brankel> -DDESCRIPTION=<json> -DNAME=<file name> -P data_folder_macro.cmake
execute_process(COMMAND ${BRANKEL} config show --json OUTPUT_VARIABLE config RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "brankel config show failed")
endif()
string(JSON data_folder GET "${config}" data_folder)
execute_process(COMMAND ${BRANKEL} macro new ${DESCRIPTION} "${data_folder}${NAME}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot write ${NAME} into the data folder ${data_folder}")
endif()
message(STATUS "${NAME} -> ${data_folder}${NAME}")
