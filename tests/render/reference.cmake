# The literal renderer: the render suites and render-bench compare against it.
# Included from both places; the first inclusion defines the library.
find_package(OpenGL REQUIRED)
if(NOT TARGET fk_render_reference)
  add_library(fk_render_reference STATIC ${CMAKE_CURRENT_LIST_DIR}/reference_render.cpp)
  target_include_directories(fk_render_reference PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(fk_render_reference PUBLIC fk_render fk_sph OpenGL::GL)
  # Bit-exact like the renderer's own field: same vectorizer guard.
  target_compile_options(fk_render_reference PRIVATE -fno-tree-vectorize -fno-tree-slp-vectorize)
endif()
