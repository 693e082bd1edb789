/* A stand-in for the runtime programs of the installation (the browser brokers, the web
   extension installer, the connection helper), until our own runtime replaces them. The
   build copies this one program to each of their names. */
#include <stdio.h>

int main(void) {
  printf("stand-in runtime program\n");
  return 0;
}
