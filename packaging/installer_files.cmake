# Writes the uninstaller's part of the installer: one Delete for every file of the
# installation's program folder and one RMDir for every folder, deepest first, so that
# the uninstaller removes exactly what was installed and a file the user put into the
# program folder keeps its folder. The configuration goes to the shared data folder and
# has its own lines in the script.
# Usage: cmake -DSOURCE=<installation folder> -DOUTPUT=<file.nsh> -P installer_files.cmake
file(GLOB_RECURSE files RELATIVE ${SOURCE} LIST_DIRECTORIES true ${SOURCE}/*)
list(SORT files)
set(deletes "")
set(folders "")
foreach(path ${files})
  if(path MATCHES "^Config(/|$)")
    continue()
  endif()
  string(REPLACE "/" "\\" windows_path "${path}")
  # NSIS reads "$" as the start of a variable.
  string(REPLACE "$" "$$" windows_path "${windows_path}")
  if(IS_DIRECTORY ${SOURCE}/${path})
    list(APPEND folders "${windows_path}")
  else()
    string(APPEND deletes "Delete \"$INSTDIR\\${windows_path}\"\n")
  endif()
endforeach()
# Sorted names put a folder before what lies in it: reversed, inner folders come first.
list(REVERSE folders)
set(removes "")
foreach(folder ${folders})
  string(APPEND removes "RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
file(WRITE ${OUTPUT} "; Written by installer_files.cmake from ${SOURCE}\n${deletes}${removes}")
