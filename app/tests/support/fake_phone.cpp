#include "fake_phone.h"

#include "imaging/image.h"
#include "imaging/jpeg.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
Image gradient(int width, int height) {
    Image image = blank_image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 255 / width);
            px[1] = static_cast<std::uint8_t>(y * 255 / height);
            px[2] = 128;
        }
    }
    return image;
}
}  // namespace

FakePhone::FakePhone() : jpeg(encode_jpeg(gradient(320, 240))) {
    server.Get("/shot.jpg",
               [this](const httplib::Request&, httplib::Response& res) { res.set_content(jpeg, "image/jpeg"); });
    server.Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>not a photo</body></html>", "text/html");
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
}

FakePhone::~FakePhone() {
    server.stop();
    if (thread.joinable()) thread.join();
}

int closed_port() {
    // Bound and closed again: nothing listens there for the length of a test.
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    close(sock);
    return ntohs(address.sin_port);
}
