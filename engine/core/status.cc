// The status catalogue. Resource ids are fixed by the message store and
// shown to users through error reports: never change them. Warning 12
// shares the texts of warning 4 (both say the key does not exist); -41 and
// 0 have no detail text.
#include "engine/core/status.h"

#include <iterator>

namespace qx::engine {
namespace {

constexpr StatusTexts kCatalogue[] = {
    {-59, 2877, 2955}, {-58, 2876, 2954}, {-57, 2875, 2953}, {-56, 2874, 2952},
    {-55, 2873, 2951}, {-54, 2872, 2950}, {-53, 2871, 2949}, {-52, 2870, 2948},
    {-51, 2869, 2947}, {-50, 2868, 2946}, {-49, 2867, 2945}, {-48, 2866, 2944},
    {-47, 2865, 2943}, {-46, 2864, 2942}, {-45, 2863, 2941}, {-44, 2862, 2940},
    {-43, 2861, 2939}, {-42, 2860, 2938}, {-41, 2859, 0},    {-40, 2858, 2937},
    {-39, 2857, 2936}, {-38, 2856, 2935}, {-37, 2855, 2934}, {-36, 2854, 2933},
    {-35, 2853, 2932}, {-34, 2852, 2931}, {-33, 2851, 2930}, {-32, 2850, 2929},
    {-31, 2849, 2928}, {-30, 2848, 2927}, {-29, 2847, 2926}, {-28, 2846, 2925},
    {-27, 2845, 2924}, {-26, 2844, 2923}, {-25, 2843, 2922}, {-24, 2842, 2921},
    {-23, 2841, 2920}, {-22, 2840, 2919}, {-21, 2839, 2918}, {-20, 2837, 2916},
    {-19, 2835, 2914}, {-18, 2828, 2907}, {-17, 2826, 2905}, {-16, 2825, 2904},
    {-15, 2824, 2903}, {-14, 2823, 2902}, {-13, 2822, 2901}, {-12, 2821, 2900},
    {-11, 2820, 2899}, {-10, 2819, 2898}, {-9, 2818, 2897},  {-8, 2817, 2896},
    {-7, 2816, 2895},  {-6, 2815, 2894},  {-5, 2814, 2893},  {-4, 2813, 2892},
    {-3, 2812, 2891},  {-2, 2811, 2890},  {-1, 2810, 2889},  {0, 2809, 0},
    {1, 2808, 2888},   {2, 2807, 2887},   {3, 2806, 2886},   {4, 2805, 2885},
    {5, 2804, 2884},   {6, 2803, 2883},   {7, 2802, 2882},   {8, 2801, 2881},
    {9, 2800, 2880},   {10, 2799, 2879},  {11, 2798, 2878},  {12, 2805, 2885},
};

static_assert(std::size(kCatalogue) == 72, "one row per code -59..12");

}  // namespace

const StatusTexts* FindStatusTexts(int16_t status) {
  if (status < kKbdErrNoTask || status > kKbdKeyNotFoundEnd) return nullptr;
  // Rows are dense and ordered from -59.
  return &kCatalogue[status - kKbdErrNoTask];
}

const StatusTexts* StatusCatalogue(int* count) {
  *count = static_cast<int>(std::size(kCatalogue));
  return kCatalogue;
}

}  // namespace qx::engine
