# How a program is made: from its main file (the six built-in programs) or
# from the header of a model of your own (zanfel_add_program). Included by
# the project and by ZanfelConfig.cmake in the build tree, so that a project
# outside this repository makes its programs the same way.

# A program from its main file: linked with the engine and the application,
# optimised at link time where the project is, put in bin/ of the build and
# installed, with a manual page made from its --help.
# The manual pages point to the installed manual.
set(ZANFEL_SEE_ALSO ${CMAKE_CURRENT_LIST_DIR}/see_also.h2m)

function(zanfel_program name main)
  add_executable(${name} ${main})
  if(ZANFEL_LINK_TIME_OPTIMISATION)
    target_link_libraries(${name} PRIVATE zanfel_programs zanfel_warnings)
  else()
    target_link_libraries(${name} PRIVATE zanfel_app zanfel_warnings)
  endif()
  set_target_properties(${name} PROPERTIES
    INTERPROCEDURAL_OPTIMIZATION ${ZANFEL_LINK_TIME_OPTIMISATION}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  find_program(HELP2MAN help2man)
  if(HELP2MAN)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${HELP2MAN} --no-info --section=1
              "--name=boundary-value problem by shooting and continuation"
              --include=${ZANFEL_SEE_ALSO} --output=${page} $<TARGET_FILE:${name}>
      DEPENDS ${name} ${ZANFEL_SEE_ALSO}
      COMMENT "Manual page of ${name}")
    add_custom_target(${name}_man_page ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()

# zanfel_add_program(NAME MODEL_HEADER): the program NAME over the model and
# the OwnProblem table `kOwnProblem` that MODEL_HEADER defines (README,
# "Solving your own problem").
function(zanfel_add_program name header)
  get_filename_component(ZANFEL_MODEL_HEADER ${header} ABSOLUTE)
  set(ZANFEL_PROGRAM_NAME ${name})
  set(main ${CMAKE_CURRENT_BINARY_DIR}/${name}_main.cpp)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/own_main.cpp.in ${main} @ONLY)
  zanfel_program(${name} ${main})
endfunction()
