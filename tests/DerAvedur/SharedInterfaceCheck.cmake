# The SDK's sibling services reach it through DerAvedur/DerAvedur/Shared and its
# public headers; DerAvedur/DerAvedur/Internals is the SDK's own. Fails naming
# each include that crosses into Internals.
#   cmake -DROOT=<source tree> -P SharedInterfaceCheck.cmake
set(crossings)
foreach(dir DerAvedurAnalytics DerAvedurCrashes)
  file(GLOB_RECURSE files ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} hits REGEX "#include \"DerAvedur/DerAvedur/Internals/")
    foreach(hit ${hits})
      file(RELATIVE_PATH name ${ROOT} ${file})
      list(APPEND crossings "${name}: ${hit}")
    endforeach()
  endforeach()
endforeach()
if(crossings)
  list(JOIN crossings "\n  " text)
  message(FATAL_ERROR "Sibling services include the SDK's internals:\n  ${text}")
endif()
