#include "vlc_peer.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "closed_port.h"
#include "ffmpeg_tools.h"
#include "test_sockets.h"

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
        m_directory = MakeSharedDirectory("brantel-vlc-");
        if (m_directory.empty())
            return;
        std::error_code ignored;
        std::filesystem::permissions(m_directory,
                                     std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec,
                                     ignored);
        const std::filesystem::path file = m_directory / "clip.h264";
        RunCommand("/usr/bin/gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kClipSeconds * 25) +
                   " pattern=ball ! video/x-raw,width=352,height=240,framerate=25/1 ! x264enc bitrate=256 "
                   "key-int-max=25 speed-preset=ultrafast tune=zerolatency ! "
                   "video/x-h264,stream-format=byte-stream,profile=baseline ! filesink location=" +
                   PeerPath(file));
        if (std::filesystem::file_size(file, ignored) > 0 && !ignored)
        {
            std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add,
                                         ignored);
            m_file = PeerPath(file);
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

    // As VLC names it; empty when it could not be made.
    const std::string& File() const { return m_file; }

private:
    std::filesystem::path m_directory;
    std::string m_file;
};

const Clip& SharedClip()
{
    static const Clip clip;
    return clip;
}

// True when the server answers a DESCRIBE with the video: VLC listens before its stream is set up,
// and a client that comes too early would be told there is nothing.
bool DescribesVideo(std::uint16_t port, const std::string& url)
{
    const platform::SocketHandle connection = ConnectLoopback(port);
    if (connection == platform::kInvalidSocket)
        return false;
    const std::string request = "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";
    std::string answer;
    if (SendAll(connection, request))
    {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (answer.find("m=video") == std::string::npos)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ReceiveInto(connection, answer, left) <= 0)
                break;
        }
    }
    platform::CloseSocket(connection);
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
    // VLC refuses to run as root. The shell asks who runs it, as a test under Wine cannot tell.
    std::vector<std::string> arguments = {
        "/bin/sh",
        "-c",
        "if [ \"$(id -u)\" = 0 ]; then exec /usr/sbin/runuser -u nobody -- \"$@\"; fi; exec \"$@\"",
        "vlc",
        "/usr/bin/cvlc",
        "-q",
        "-I",
        "dummy",
        clip,
        "--demux",
        "h264",
        "--sout",
        "#rtp{sdp=" + Url() + "}"};
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
        const platform::SocketHandle connection = ConnectLoopback(m_port);
        if (connection == platform::kInvalidSocket)
            return true;
        platform::CloseSocket(connection);
        std::this_thread::sleep_for(50ms);
    }
    return false;
}
}
