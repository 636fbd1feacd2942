# OpenGL for the web build: Emscripten's legacy GL emulation over WebGL 1,
# linked as the JavaScript library emcc brings. The fixed-function calls it
# lacks are filled in graphics/web/.
set(OPENGL_FOUND TRUE)
set(OpenGL_OpenGL_FOUND TRUE)
set(OPENGL_INCLUDE_DIR "")
if(NOT TARGET OpenGL::GL)
  add_library(OpenGL::GL INTERFACE IMPORTED)
  set_target_properties(OpenGL::GL PROPERTIES INTERFACE_LINK_OPTIONS "-sLEGACY_GL_EMULATION=1;-sGL_UNSAFE_OPTS=0")
  add_library(OpenGL::OpenGL ALIAS OpenGL::GL)
endif()
