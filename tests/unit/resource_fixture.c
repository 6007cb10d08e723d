/* A Windows program that does nothing and carries the stub's resources (res/stub.rc): what the
   resource tests rewrite where the stub itself has not been built. */
int __stdcall WinMain(void* instance, void* previous, char* command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  return 0;
}
