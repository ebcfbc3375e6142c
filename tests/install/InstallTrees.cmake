# Installs the build twice for the install tests, from scratch:
#   ROOT/staged/opt/glimmora: under a DESTDIR, so the tree runs from elsewhere than its prefix;
#   ROOT/in-place:            at its prefix, so the units' ExecStart names a command that exists.
# cmake -DBUILD_DIR=... -DROOT=... -P InstallTrees.cmake
file(REMOVE_RECURSE ${ROOT})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT}/staged
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /opt/glimmora
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${ROOT}/in-place COMMAND_ERROR_IS_FATAL ANY)
