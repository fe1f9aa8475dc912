#include "vlc_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "closed_port.h"
#include "ffmpeg_tools.h"

namespace kestrav::testing
{
namespace
{
using namespace std::chrono_literals;

// Longer than any test: VLC's --loop stalls at the end of a file, so the file must never end.
constexpr int kClipSeconds = 90;

// The clip every VLC of this test program serves, made once: 352x240 at 25 frames per second with a
// key frame each second, in a directory that the user VLC runs as can read.
class Clip
{
public:
    Clip()
    {
        char pattern[] = "/tmp/brantel-vlc-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        m_directory = pattern;
        std::error_code ignored;
        std::filesystem::permissions(m_directory,
                                     std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec,
                                     ignored);
        const std::string file = m_directory + "/clip.h264";
        RunCommand("/usr/bin/gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kClipSeconds * 25) +
                   " pattern=ball ! video/x-raw,width=352,height=240,framerate=25/1 ! x264enc bitrate=256 "
                   "key-int-max=25 speed-preset=ultrafast tune=zerolatency ! "
                   "video/x-h264,stream-format=byte-stream,profile=baseline ! filesink location=" +
                   file);
        if (std::filesystem::file_size(file, ignored) > 0 && !ignored)
        {
            std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add,
                                         ignored);
            m_file = file;
        }
    }
    ~Clip()
    {
        std::error_code ignored;
        if (!m_directory.empty())
            std::filesystem::remove_all(m_directory, ignored);
    }
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    // Empty when it could not be made.
    const std::string& File() const { return m_file; }

private:
    std::string m_directory;
    std::string m_file;
};

const Clip& SharedClip()
{
    static const Clip clip;
    return clip;
}

int Connect(std::uint16_t port)
{
    const int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

// True when the server answers a DESCRIBE with the video: VLC listens before its stream is set up,
// and a client that comes too early would be told there is nothing.
bool DescribesVideo(std::uint16_t port, const std::string& url)
{
    const int descriptor = Connect(port);
    if (descriptor < 0)
        return false;
    const std::string request = "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";
    std::string answer;
    if (send(descriptor, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
    {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        char buffer[2048];
        while (answer.find("m=video") == std::string::npos)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            pollfd readable{descriptor, POLLIN, 0};
            if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0)
                break;
            const ssize_t got = recv(descriptor, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(descriptor);
    return answer.rfind("RTSP/1.0 200", 0) == 0 && answer.find("m=video") != std::string::npos;
}
}

VlcPeer::VlcPeer(std::string path, std::vector<std::string> moreOptions)
    : m_path(std::move(path)), m_moreOptions(std::move(moreOptions)), m_port(ClosedPort())
{
    Start();
}

VlcPeer::~VlcPeer()
{
    m_process.reset();
}

std::string VlcPeer::Url() const
{
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/" + m_path;
}

bool VlcPeer::Start()
{
    m_process.reset();
    m_ready = false;
    const std::string& clip = SharedClip().File();
    if (clip.empty())
    {
        m_startFailure = "no H.264 clip (gst-launch-1.0 with x264enc)";
        return false;
    }
    // VLC refuses to run as root.
    std::vector<std::string> arguments;
    if (geteuid() == 0)
        arguments = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    arguments.insert(arguments.end(), {"/usr/bin/cvlc", "-q", "-I", "dummy", clip, "--demux", "h264", "--sout",
                                       "#rtp{sdp=" + Url() + "}"});
    arguments.insert(arguments.end(), m_moreOptions.begin(), m_moreOptions.end());
    // runuser does not watch its stdin: the group goes with this object.
    m_process = std::make_unique<ChildProcess>(arguments, true);
    if (!m_process->IsRunning())
    {
        m_startFailure = "cannot start " + arguments.front();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (DescribesVideo(m_port, Url()))
        {
            m_ready = true;
            m_startFailure.clear();
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    m_startFailure = "VLC did not describe " + Url() + " within 20 s";
    return false;
}

bool VlcPeer::Stop()
{
    m_ready = false;
    if (m_process)
        m_process->Stop();
    m_process.reset();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline)
    {
        const int descriptor = Connect(m_port);
        if (descriptor < 0)
            return true;
        close(descriptor);
        std::this_thread::sleep_for(50ms);
    }
    return false;
}
}
