# A host whose library does not fit gets a refusal, and goes on. The effect player, linked against
# fixture hosts made from the stand-in's objects, each differing from host/ in one way, plays a
# short script with the very DLL of bin/ beside it: the module must name the difference in the
# host's log and register nothing, and the player must play its frames without sources and end
# well. Beside them, the stand-in under another file name, where the module plays the effect.
if(NOT MSVC OR NOT TARGET fxplayer OR NOT TARGET fxconsole OR NOT COMMAND vantrel_standin_named)
  return()
endif()

# Whatever the player links but the stand-in.
get_target_property(refusal_player_libraries fxplayer LINK_LIBRARIES)
list(REMOVE_ITEM refusal_player_libraries HostApi)

# The player relinked against `host`, in the host's folder with the module, the console and the
# shader as a host's folder holds them, and a test that plays the script there:
# play-host MODE LIBRARY OUT PATTERNS... (see that script).
function(vantrel_refusal_case label host mode)
  vantrel_host_linked(${host})
  get_target_property(folder ${host} RUNTIME_OUTPUT_DIRECTORY)
  set(player fxplayer_${label})
  add_executable(${player} $<TARGET_OBJECTS:fxplayer>)
  target_link_libraries(${player} PRIVATE ${refusal_player_libraries} ${host})
  set_target_properties(${player} PROPERTIES OUTPUT_NAME fxplayer RUNTIME_OUTPUT_DIRECTORY ${folder})
  # Copied again whenever the module is built again, though the player is not.
  set(shader ${CMAKE_SOURCE_DIR}/shaders/ColorKey_RGB.pShader)
  set(copies ${folder}/VantrelEffect.dll ${folder}/fxconsole.exe
             ${folder}/shaders/ColorKey_RGB.pShader)
  add_custom_command(OUTPUT ${copies}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VantrelEffect>
            $<TARGET_FILE:fxconsole> ${folder}/
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/shaders
    COMMAND ${CMAKE_COMMAND} -E copy ${shader} ${folder}/shaders/
    DEPENDS VantrelEffect fxconsole ${shader} VERBATIM)
  add_custom_target(${player}_files DEPENDS ${copies})
  add_dependencies(${player} ${player}_files)
  add_test(NAME HostRefusal.${label}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/play-host ${mode} $<TARGET_FILE_NAME:${host}>
            out ${ARGN} -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${player}>
            --script ${CMAKE_CURRENT_SOURCE_DIR}/windows/HostRefusal.script --out out
            --seconds 2 --fps 10 --every 5 --canvas 640x360
    WORKING_DIRECTORY ${folder})
  set_tests_properties(HostRefusal.${label} PROPERTIES TIMEOUT ${VANTREL_TEST_TIMEOUT}
                       RESOURCE_LOCK vantrel_console)
endfunction()

# A function the module calls and the player does not, left out (String's path extension, a file of
# its own in standin/ for this).
vantrel_standin_named(HostApiMissingFunction MissingFnHost host-refusal/missing-function
  "$<FILTER:$<TARGET_OBJECTS:HostApi>,EXCLUDE,/PathExtension[.]cpp[.]obj$>")
vantrel_refusal_case(MissingFunction HostApiMissingFunction refused
  "log LoadPlugin: the host's library MissingFnHost[.]dll does not fit: MISSING [?]GetPathExtension@@")

# Scene's vftable exported one slot short of ours (2 slots: host/Scene.h). Only the check of
# vftables slot by slot refuses it; the check of names alone lets it through.
vantrel_standin_named(HostApiShortScene ShortSceneHost host-refusal/short-vftable
  $<TARGET_OBJECTS:HostApi> ${CMAKE_CURRENT_SOURCE_DIR}/windows/ShortSceneTable.cpp)
target_compile_options(HostApiShortScene PRIVATE ${VANTREL_WARNINGS})
target_link_options(HostApiShortScene PRIVATE
  "/EXPORT:??_7Scene@@6B@=vantrel_short_scene_vftable,DATA")
vantrel_refusal_case(ShortSceneVftable HostApiShortScene refused
  "log LoadPlugin: the host's library ShortSceneHost[.]dll does not fit: .*Scene")

# The stand-in as it is, under a file name of its own: the module binds, and plays the effect.
vantrel_standin_named(HostApiFitting FittingHost host-refusal/fits)
vantrel_refusal_case(Fits HostApiFitting fits "read .*sparkle[.]gif" "msg 1056 101 0")
