# Packages the VS Code extension: stages the extension's files with the
# generated TextMate grammar and runs vsce from npm there.
#   cmake -DSOURCE=packaging/vscode -DGRAMMAR=.../velmar.tmLanguage.json
#         -DSTAGE=build/vscode -DOUTPUT=build/velmar.vsix -P make_vsix.cmake
# Without the npm packages (scripts/install-npm.sh) the extension is not
# made and the build says so; under CI=true that is an error.
set(vsce ${SOURCE}/node_modules/.bin/vsce)
if(NOT EXISTS ${vsce})
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "velmar.vsix: ${vsce} is missing; run scripts/install-npm.sh")
  endif()
  message(STATUS "velmar.vsix not made: run scripts/install-npm.sh for @vscode/vsce")
  return()
endif()
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/syntaxes)
foreach(f package.json extension.js language-configuration.json README.md LICENSE.txt .vscodeignore)
  file(COPY ${SOURCE}/${f} DESTINATION ${STAGE})
endforeach()
file(COPY ${GRAMMAR} DESTINATION ${STAGE}/syntaxes)
# vsce takes the production dependencies from the staged node_modules.
file(CREATE_LINK ${SOURCE}/node_modules ${STAGE}/node_modules SYMBOLIC)
execute_process(COMMAND ${vsce} package --out ${OUTPUT}
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "vsce package failed:\n${out}\n${err}")
endif()
