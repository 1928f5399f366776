/* The floor for a transfer: the least a client can do to fetch a reply and
 * save its body. It connects to 127.0.0.1:PORT, sends one GET, skips the
 * head and writes every body byte to FILE as it arrives, through one buffer.
 * No checks beyond what it needs to run; not a client, a yardstick.
 *
 *   floor_reader PORT FILE
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static char buffer[256 * 1024];

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: floor_reader PORT FILE\n");
        return 2;
    }
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[1]));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, (struct sockaddr*)&address, sizeof address) < 0) return 1;
    static const char request[] = "GET /api/frame.jpg?_= HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(sock, request, sizeof request - 1, 0) < 0) return 1;
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) return 1;
    int in_body = 0;
    size_t seen = 0; /* bytes of "\r\n\r\n" matched so far */
    for (;;) {
        ssize_t got = recv(sock, buffer, sizeof buffer, 0);
        if (got < 0) return 1;
        if (got == 0) break;
        char* from = buffer;
        if (!in_body) {
            static const char end[] = "\r\n\r\n";
            while (from < buffer + got && !in_body) {
                seen = *from == end[seen] ? seen + 1 : (*from == '\r');
                in_body = seen == 4;
                ++from;
            }
        }
        for (char* at = from; at < buffer + got;) {
            ssize_t written = write(out, at, (size_t)(buffer + got - at));
            if (written <= 0) return 1;
            at += written;
        }
    }
    return close(out) < 0;
}
