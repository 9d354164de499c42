// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

namespace ostrel {

// The text that the memory and disk workloads copy and write. Its length and
// character mix fix the amount of work: 1,677 UTF-16 units, 242 of them ASCII
// and 1,435 of them three bytes long in UTF-8, so 4,547 bytes on disk.
inline constexpr char16_t kPayloadText[] =
    u"很多人买了一台新电脑之后，做的第一件事并不是打开办公软件，而是运行一个基准测试程序。"
    u"这种习惯看起来有点奇怪，其实道理很简单：我们想知道手里的机器到底有多快，和朋友的那台相比谁更强，"
    u"升级之后又究竟换来了多少提升。厂商在宣传页上写的主频、核心数和缓存大小只是参数，"
    u"真正的速度要在实际的工作负载下才能看出来。一个好的测试程序会把同样的任务交给不同的机器，"
    u"用同样的方法计时，最后给出一个可以相互比较的分数。\n"
    u"整数测试主要考察 CPU 处理日常逻辑的能力。编译代码、压缩文件、解析网页、排序数据，"
    u"这些工作绝大部分都是整数加减、比较和跳转。测试程序通常会反复执行一段固定的算法，例如计算素数、"
    u"做 CRC32 或 SHA-256 哈希，或者模拟一个小型的状态机，然后统计每秒完成了多少轮。分支预测是否准确、"
    u"指令能否并行发射、一级缓存是否够用，都会直接反映在这个数字上。\n"
    u"浮点测试则更接近科学计算和多媒体处理。三维渲染、音频滤波、"
    u"物理模拟和机器学习都离不开大量的小数乘法与加法，而且几乎全部遵循 IEEE 754 标准的 double 格式。"
    u"现代处理器配备了宽大的向量单元，例如 SSE、AVX2 和 AVX-512，一条指令可以同时处理四个、"
    u"八个甚至十六个数，所以同一颗芯片在浮点测试中的表现往往很依赖编译器是否用好了 SIMD 指令，"
    u"手写汇编有时还能再快一截。为了让结果稳定，测试程序一般会选择一个数学上有确定答案的问题，"
    u"算完之后再核对结果，防止某些优化把真正的计算悄悄省略掉。\n"
    u"内存测试关心的是数据搬运的速度。处理器再快，如果数据迟迟送不到寄存器里，也只能空转等待。"
    u"常见的做法是准备一段文本或者一块缓冲区，在内存中反复复制、读取和比较，计算每秒能移动多少字节，"
    u"单位通常是 MB/s 或 GB/s。这个成绩同时受到内存频率（比如 DDR5-5600）、通道数量、"
    u"缓存层级以及操作系统调度的影响，因此同一台机器在不同设置下可能会有明显差别。\n"
    u"磁盘测试看的是持久存储。程序把一段固定的内容写入临时文件，调用 fsync() 强制刷新到磁盘，"
    u"再读回来检查是否完整，最后删除文件。机械硬盘、SATA 固态硬盘和 NVMe 固态硬盘之间的差距可以"
    u"达到几十倍，而文件系统（ext4、Btrfs 或 XFS）、加密选项和后台的索引服务也会让结果上下浮动。为了公平，"
    u"测试应当使用相同大小的文件和相同的写入次数，并且尽量避开 page cache 带来的假象。\n"
    u"说到计算本身，圆周率大概是最有名的测试题目。早在两千多年前，阿基米德就用正 96 边形逼近圆，"
    u"得到了 3.14 左右的估计。到了十七世纪，莱布尼茨（Leibniz）给出了一个很优美的级数："
    u"1 - 1/3 + 1/5 - 1/7 + ...，如此无限交替下去，总和正好是圆周率的四分之一。"
    u"可惜这个级数收敛得极慢，算一百万项也只能得到五六位准确数字。后来的数学家发现了收敛快得多的公式，"
    u"比如 1706 年的梅钦公式和 1914 年拉马努金的级数，"
    u"使得人们在计算机出现之后能够把圆周率算到数百万位、数十亿位，直到今天的上百万亿位。"
    u"对测试程序来说，慢速的级数反而是优点，因为它能稳定地让处理器忙上一段时间，而且答案人人都知道。\n"
    u"今天在 Linux 桌面上运行这样的程序已经非常方便。无论是 GNOME、KDE Plasma 还是更轻量的 Xfce，"
    u"都可以直接启动一个用 Qt 6 编写的图形界面，在窗口里显示进度条、耗时和每一项的得分，"
    u"也能在终端用 top 看负载。C++20 提供了更好的编译期检查和并发工具，让测试代码既能写得清楚，"
    u"又能贴近硬件。开源社区的好处在于任何人都能阅读源代码，知道分数是怎么算出来的，"
    u"而不必盲目相信一个神秘的数字。\n"
    u"当然，基准测试的分数并不是一切。一台在测试中领先百分之十的电脑，"
    u"在日常使用中未必能让人感觉到差别；散热、噪音、续航和稳定性同样重要。我们运行测试，"
    u"更多是为了了解自己的机器，发现配置上的问题，或者记录下升级前后的变化。到了 2026 年，"
    u"硬件仍在不断进步，而这种好奇心大概永远不会过时。";

inline constexpr std::size_t kPayloadLength = sizeof(kPayloadText) / sizeof(char16_t) - 1;

namespace payload_detail {
constexpr std::size_t countInRange(char16_t low, char16_t high)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < kPayloadLength; ++i)
        if (kPayloadText[i] >= low && kPayloadText[i] <= high)
            ++n;
    return n;
}
} // namespace payload_detail

static_assert(kPayloadLength == 1677);
static_assert(payload_detail::countInRange(0x0000, 0x007F) == 242);
static_assert(payload_detail::countInRange(0x0800, 0xFFFF) == 1435);
static_assert(payload_detail::countInRange(0xD800, 0xDFFF) == 0);

// Its size as UTF-8: the bytes each disk cycle writes and reads back.
inline constexpr std::size_t kPayloadUtf8Size = payload_detail::countInRange(0x0000, 0x007F)
    + 2 * payload_detail::countInRange(0x0080, 0x07FF) + 3 * payload_detail::countInRange(0x0800, 0xFFFF);
static_assert(kPayloadUtf8Size == 4547);

} // namespace ostrel
