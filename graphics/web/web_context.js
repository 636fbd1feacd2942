// The canvas and WebGL side of graphics/web/web_context.cpp, as an Emscripten
// JavaScript library: contexts are made through Browser.createContext, so
// that the legacy GL emulation sets itself up on them as it does for GLFW.
mergeInto(LibraryManager.library, {
  // A WebGL context on the canvas that selector names ('' for the page's own
  // canvas), sized width by height; its GL handle, or 0 with the reason.
  // What the last create left to ask for (its canvas's selector, or why it
  // failed) is one object, Module.fkLastCreate.
  fk_web_context_create__deps: ['$Browser', '$GL'],
  fk_web_context_create: function(selectorText, width, height, flags, resize) {
    var made = Module.fkLastCreate = {error: '', selector: ''};
    if (typeof document === 'undefined') {
      made.error = 'Web: Failed to find a canvas: there is no page (not running in a browser)';
      return 0;
    }
    var selector = UTF8ToString(selectorText);
    var canvas = selector ? document.querySelector(selector) : (Module.canvas || document.getElementById('canvas'));
    if (!canvas || !canvas.getContext) {
      made.error = 'Web: Failed to find the canvas "' + (selector || '#canvas') + '"';
      return 0;
    }
    if (!canvas.id) canvas.id = 'canvas';
    if (resize) {
      canvas.width = width;
      canvas.height = height;
    }
    var attributes = {
      alpha: (flags & 4) !== 0, depth: (flags & 8) !== 0, stencil: (flags & 16) !== 0,
      antialias: false, premultipliedAlpha: true, preserveDrawingBuffer: false, majorVersion: 1, minorVersion: 0
    };
    var saved = Module.canvas;
    Module.canvas = canvas;
    var ctx = Browser.createContext(canvas, true, true, attributes);
    if (!ctx) {
      Module.canvas = saved;
      made.error = 'Web: Failed to create a WebGL context on the canvas (WebGL is not available)';
      return 0;
    }
    made.selector = '#' + canvas.id;
    return GL.currentContext ? GL.currentContext.handle : 0;
  },

  fk_web_context_make_current__deps: ['$GL'],
  fk_web_context_make_current: function(handle) { GL.makeContextCurrent(handle || null); },

  // Forgets the context; the canvas keeps showing the last frame it presented.
  fk_web_context_delete__deps: ['$GL'],
  fk_web_context_delete: function(handle) { if (GL.contexts[handle]) GL.deleteContext(handle); },

  // The canvas's current size, for contexts on a caller's canvas.
  fk_web_context_size__deps: ['$GL'],
  fk_web_context_size: function(handle, width, height) {
    var context = GL.contexts[handle];
    if (!context) return 0;
    HEAP32[width >> 2] = context.GLctx.canvas.width;
    HEAP32[height >> 2] = context.GLctx.canvas.height;
    return 1;
  },

  // The selector of the canvas the last create used.
  fk_web_context_selector: function(out, size) { stringToUTF8(Module.fkLastCreate ? Module.fkLastCreate.selector : '', out, size); },

  fk_web_context_error: function(out, size) { stringToUTF8(Module.fkLastCreate ? Module.fkLastCreate.error : '', out, size); },

  fk_web_set_title: function(titleText) {
    if (typeof document !== 'undefined') document.title = UTF8ToString(titleText);
  },

  // Asks for full screen; the browser decides (it refuses without a user's gesture).
  fk_web_request_fullscreen: function() {
    var canvas = Module.canvas;
    if (canvas && canvas.requestFullscreen) canvas.requestFullscreen().catch(function() {});
  },

  // The screen as the one display mode a page can see.
  fk_web_screen_mode: function(out) {
    if (typeof screen === 'undefined') return 0;
    HEAP32[out >> 2] = screen.width;
    HEAP32[(out >> 2) + 1] = screen.height;
    HEAP32[(out >> 2) + 2] = screen.colorDepth;
    HEAP32[(out >> 2) + 3] = 0;
    return 1;
  },
});
