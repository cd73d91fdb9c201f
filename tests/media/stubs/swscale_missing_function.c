/* Every swscale export the loader binds except sws_scale. */
void swscale_version(void) {}
void sws_get_class(void) {}
void sws_getContext(void) {}
void sws_getCachedContext(void) {}
void sws_freeContext(void) {}
