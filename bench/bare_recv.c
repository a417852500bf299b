/* The floor of a client that receives 2048 bytes at a time: one HTTP/1.0
 * GET to 127.0.0.1:80, then a bare loop of 2048-byte recv calls, the body
 * written to a file through stdio. No checks beyond the header's end.
 *   bare_recv /PATH LOCAL_FILE */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: bare_recv /PATH LOCAL_FILE\n");
    return 2;
  }
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(80);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (s < 0 || connect(s, (struct sockaddr*)&to, sizeof to) != 0) return 1;
  char request[1024];
  int length = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", argv[1]);
  send(s, request, (size_t)length, 0);
  FILE* out = fopen(argv[2], "wb");
  if (out == NULL) return 1;
  char buffer[2048];
  int headerSeen = 0; /* bytes of "\r\n\r\n" matched so far */
  ssize_t n;
  while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
    ssize_t at = 0;
    while (headerSeen < 4 && at < n) {
      char c = buffer[at++];
      headerSeen = c == "\r\n\r\n"[headerSeen] ? headerSeen + 1 : (c == '\r');
    }
    if (at < n) fwrite(buffer + at, 1, (size_t)(n - at), out);
  }
  fclose(out);
  close(s);
  return n == 0 ? 0 : 1;
}
