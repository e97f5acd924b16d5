/* Searches two recordings through the installed library's kestrav_search and prints the JSON
 * document: search_json FIRST SECOND RATE WINDOW_US */
#include <kestrav/kestrav.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: search_json FIRST SECOND RATE WINDOW_US\n");
    return 2;
  }
  kestrav_search_request request = kestrav_default_request();
  request.first_path = argv[1];
  request.second_path = argv[2];
  request.sample_rate = atof(argv[3]);
  request.delay_window = atof(argv[4]) * 0.000001;
  char message[256];
  size_t length = 0;
  /* Asked without a buffer first: the length needed, then the document. */
  if (kestrav_search(&request, NULL, 0, &length, message, sizeof message) != KestravInputError ||
      length == 0) {
    fprintf(stderr, "kestrav_search: %s\n", message);
    return 1;
  }
  char* json = malloc(length + KestravJsonSlack);
  const int status =
      kestrav_search(&request, json, length + KestravJsonSlack, &length, message, sizeof message);
  if (status != KestravOk) {
    fprintf(stderr, "kestrav_search: %s\n", message);
    return status;
  }
  fputs(json, stdout);
  free(json);
  return 0;
}
