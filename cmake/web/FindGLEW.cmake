# GLEW for the web build: glewInit comes with Emscripten's JavaScript GL
# library, its header with Emscripten's system headers.
set(GLEW_FOUND TRUE)
if(NOT TARGET GLEW::GLEW)
  add_library(GLEW::GLEW INTERFACE IMPORTED)
endif()
