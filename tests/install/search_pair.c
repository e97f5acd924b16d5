/* Searches two int16 recordings through the installed library and prints the best delay in
 * microseconds and the offset in hertz: search_pair FIRST SECOND SAMPLES RATE WINDOW_US */
#include <kestrav/kestrav.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: search_pair FIRST SECOND SAMPLES RATE WINDOW_US\n");
    return 2;
  }
  SearchResult results[MaxResults];
  int count = 0;
  if (!Kestrav(results, &count, argv[1], argv[2], atoi(argv[3]), atof(argv[4]), 0.0,
               atof(argv[5]) * 1e-6, 16384.0, 0.0, 0.0, 15.0, true) ||
      count < 1) {
    fprintf(stderr, "no result\n");
    return 1;
  }
  printf("%.3f %.3f\n", results[0].delay * 1e6, results[0].frequencyOffset);
  return 0;
}
