// The exports each run-time bound library must provide, as X-macro lists. Kept free of
// any library header so that the stub libraries of the loader tests can be generated
// from the same lists.
#pragma once

// Laid out by hand: one export a line.
// clang-format off

// ---- avcodec (kind 0) -------------------------------------------------------------
#define TOVI_AVCODEC_FUNCTIONS(X)                                                        \
  X(avcodec_version)                                                                     \
  X(avcodec_configuration)                                                               \
  X(av_codec_iterate)                                                                    \
  X(av_codec_is_encoder)                                                                 \
  X(av_codec_is_decoder)                                                                 \
  X(avcodec_find_decoder)                                                                \
  X(avcodec_find_decoder_by_name)                                                        \
  X(avcodec_find_encoder)                                                                \
  X(avcodec_find_encoder_by_name)                                                        \
  X(avcodec_get_class)                                                                   \
  X(avcodec_get_name)                                                                    \
  X(avcodec_get_type)                                                                    \
  X(avcodec_descriptor_get)                                                              \
  X(av_dv_codec_profile2)                                                                \
  X(avcodec_descriptor_get_by_name)                                                      \
  X(avcodec_profile_name)                                                                \
  X(av_get_profile_name)                                                                 \
  X(avcodec_string)                                                                      \
  X(avcodec_alloc_context3)                                                              \
  X(avcodec_free_context)                                                                \
  X(avcodec_open2)                                                                       \
  X(avcodec_is_open)                                                                     \
  X(avcodec_parameters_alloc)                                                            \
  X(avcodec_parameters_free)                                                             \
  X(avcodec_parameters_copy)                                                             \
  X(avcodec_parameters_to_context)                                                       \
  X(avcodec_parameters_from_context)                                                     \
  X(avcodec_send_packet)                                                                 \
  X(avcodec_receive_frame)                                                               \
  X(avcodec_send_frame)                                                                  \
  X(avcodec_receive_packet)                                                              \
  X(avcodec_flush_buffers)                                                               \
  X(avcodec_decode_subtitle2)                                                            \
  X(avcodec_encode_subtitle)                                                             \
  X(avsubtitle_free)                                                                     \
  X(avcodec_align_dimensions2)                                                           \
  X(avcodec_find_best_pix_fmt_of_list)                                                   \
  X(av_get_bits_per_sample)                                                              \
  X(av_get_exact_bits_per_sample)                                                        \
  X(av_get_audio_frame_duration)                                                         \
  X(av_get_pcm_codec)                                                                    \
  X(av_packet_alloc)                                                                     \
  X(av_packet_free)                                                                      \
  X(av_packet_ref)                                                                       \
  X(av_packet_unref)                                                                     \
  X(av_packet_clone)                                                                     \
  X(av_packet_move_ref)                                                                  \
  X(av_packet_make_writable)                                                             \
  X(av_packet_rescale_ts)                                                                \
  X(av_packet_new_side_data)                                                             \
  X(av_packet_get_side_data)                                                             \
  X(av_new_packet)                                                                       \
  X(av_grow_packet)                                                                      \
  X(av_shrink_packet)                                                                    \
  X(av_parser_init)                                                                      \
  X(av_parser_parse2)                                                                    \
  X(av_parser_close)                                                                     \
  X(av_bsf_get_by_name)                                                                  \
  X(av_bsf_alloc)                                                                        \
  X(av_bsf_init)                                                                         \
  X(av_bsf_send_packet)                                                                  \
  X(av_bsf_receive_packet)                                                               \
  X(av_bsf_flush)                                                                        \
  X(av_bsf_free)                                                                         \
  X(av_bsf_get_class)

#define TOVI_AVCODEC_VARIABLES(X) X(av_codec_ffversion)

// ---- avdevice (kind 1) ------------------------------------------------------------
#define TOVI_AVDEVICE_FUNCTIONS(X)                                                       \
  X(avdevice_version)                                                                    \
  X(avdevice_register_all)

#define TOVI_AVDEVICE_VARIABLES(X) X(av_device_ffversion)

// ---- avfilter (kind 2) ------------------------------------------------------------
#define TOVI_AVFILTER_FUNCTIONS(X)                                                       \
  X(avfilter_version)                                                                    \
  X(avfilter_get_by_name)                                                                \
  X(avfilter_get_class)                                                                  \
  X(avfilter_graph_alloc)                                                                \
  X(avfilter_graph_free)                                                                 \
  X(avfilter_graph_alloc_filter)                                                         \
  X(avfilter_graph_create_filter)                                                        \
  X(avfilter_graph_parse_ptr)                                                            \
  X(avfilter_graph_config)                                                               \
  X(avfilter_graph_send_command)                                                         \
  X(avfilter_init_str)                                                                   \
  X(avfilter_init_dict)                                                                  \
  X(avfilter_link)                                                                       \
  X(avfilter_inout_alloc)                                                                \
  X(avfilter_inout_free)                                                                 \
  X(av_buffersrc_parameters_alloc)                                                       \
  X(av_buffersrc_parameters_set)                                                         \
  X(av_buffersrc_add_frame_flags)                                                        \
  X(av_buffersrc_close)                                                                  \
  X(av_buffersink_get_frame)                                                             \
  X(av_buffersink_get_frame_flags)                                                       \
  X(av_buffersink_get_time_base)                                                         \
  X(av_buffersink_get_format)                                                            \
  X(av_buffersink_get_w)                                                                 \
  X(av_buffersink_get_h)                                                                 \
  X(av_buffersink_get_frame_rate)                                                        \
  X(av_buffersink_get_sample_aspect_ratio)

#define TOVI_AVFILTER_VARIABLES(X) X(av_filter_ffversion)

// ---- avformat (kind 3) ------------------------------------------------------------
#define TOVI_AVFORMAT_FUNCTIONS(X)                                                       \
  X(avformat_version)                                                                    \
  X(avformat_network_init)                                                               \
  X(avformat_get_class)                                                                  \
  X(av_demuxer_iterate)                                                                  \
  X(av_muxer_iterate)                                                                    \
  X(av_find_input_format)                                                                \
  X(av_guess_format)                                                                     \
  X(av_guess_codec)                                                                      \
  X(av_guess_frame_rate)                                                                 \
  X(av_guess_sample_aspect_ratio)                                                        \
  X(av_codec_get_id)                                                                     \
  X(av_codec_get_tag)                                                                    \
  X(av_codec_get_tag2)                                                                   \
  X(avformat_query_codec)                                                                \
  X(avformat_alloc_context)                                                              \
  X(avformat_free_context)                                                               \
  X(avformat_alloc_output_context2)                                                      \
  X(avformat_open_input)                                                                 \
  X(avformat_close_input)                                                                \
  X(avformat_find_stream_info)                                                           \
  X(avformat_new_stream)                                                                 \
  X(av_new_program)                                                                      \
  X(avformat_match_stream_specifier)                                                     \
  X(av_find_best_stream)                                                                 \
  X(av_find_program_from_stream)                                                         \
  X(avformat_init_output)                                                                \
  X(avformat_write_header)                                                               \
  X(av_write_trailer)                                                                    \
  X(av_interleaved_write_frame)                                                          \
  X(av_write_frame)                                                                      \
  X(av_read_frame)                                                                       \
  X(av_read_play)                                                                        \
  X(av_read_pause)                                                                       \
  X(av_seek_frame)                                                                       \
  X(avformat_seek_file)                                                                  \
  X(avformat_flush)                                                                      \
  X(av_dump_format)                                                                      \
  X(av_pkt_dump_log2)                                                                  \
  X(av_sdp_create)                                                                       \
  X(av_filename_number_test)                                                             \
  X(av_get_frame_filename)                                                               \
  X(avio_alloc_context)                                                                  \
  X(avio_context_free)                                                                   \
  X(avio_open2)                                                                          \
  X(avio_closep)                                                                         \
  X(avio_size)                                                                           \
  X(avio_seek)                                                                           \
  X(avio_flush)                                                                          \
  X(avio_write)                                                                          \
  X(avio_read)                                                                           \
  X(avio_feof)                                                                           \
  X(avio_enum_protocols)                                                                 \
  X(avio_find_protocol_name)

#define TOVI_AVFORMAT_VARIABLES(X) X(av_format_ffversion)

// ---- avutil (kind 4) --------------------------------------------------------------
#define TOVI_AVUTIL_FUNCTIONS(X)                                                         \
  X(avutil_version)                                                                      \
  X(av_version_info)                                                                     \
  X(av_log)                                                                              \
  X(av_vlog)                                                                             \
  X(av_log_set_callback)                                                                 \
  X(av_log_default_callback)                                                             \
  X(av_log_get_level)                                                                    \
  X(av_log_set_level)                                                                    \
  X(av_log_format_line2)                                                                 \
  X(av_default_item_name)                                                                \
  X(av_strerror)                                                                         \
  X(av_malloc)                                                                           \
  X(av_mallocz)                                                                          \
  X(av_realloc)                                                                          \
  X(av_free)                                                                             \
  X(av_freep)                                                                            \
  X(av_strdup)                                                                           \
  X(av_strlcpy)                                                                          \
  X(av_strstart)                                                                         \
  X(av_rescale)                                                                          \
  X(av_rescale_rnd)                                                                      \
  X(av_rescale_q)                                                                        \
  X(av_rescale_q_rnd)                                                                    \
  X(av_rescale_delta)                                                                    \
  X(av_compare_ts)                                                                       \
  X(av_reduce)                                                                           \
  X(av_gcd)                                                                              \
  X(av_d2q)                                                                              \
  X(av_mul_q)                                                                            \
  X(av_div_q)                                                                            \
  X(av_add_q)                                                                            \
  X(av_find_nearest_q_idx)                                                               \
  X(av_gettime)                                                                          \
  X(av_gettime_relative)                                                                 \
  X(av_usleep)                                                                           \
  X(av_cpu_count)                                                                        \
  X(av_get_media_type_string)                                                            \
  X(av_get_picture_type_char)                                                          \
  X(av_parse_video_size)                                                                 \
  X(av_parse_video_rate)                                                                 \
  X(av_parse_time)                                                                       \
  X(av_dict_get)                                                                         \
  X(av_dict_set)                                                                         \
  X(av_dict_set_int)                                                                     \
  X(av_dict_copy)                                                                        \
  X(av_dict_parse_string)                                                              \
  X(av_dict_count)                                                                       \
  X(av_dict_free)                                                                        \
  X(av_opt_find)                                                                         \
  X(av_opt_find2)                                                                        \
  X(av_opt_next)                                                                         \
  X(av_opt_set)                                                                          \
  X(av_opt_set_int)                                                                      \
  X(av_opt_set_double)                                                                   \
  X(av_opt_set_q)                                                                        \
  X(av_opt_set_bin)                                                                      \
  X(av_opt_set_dict)                                                                     \
  X(av_opt_set_dict2)                                                                    \
  X(av_opt_set_defaults)                                                                 \
  X(av_opt_get)                                                                          \
  X(av_opt_get_int)                                                                      \
  X(av_opt_get_double)                                                                   \
  X(av_opt_child_class_iterate)                                                          \
  X(av_opt_free)                                                                         \
  X(av_opt_copy)                                                                       \
  X(av_frame_alloc)                                                                      \
  X(av_frame_free)                                                                       \
  X(av_frame_ref)                                                                        \
  X(av_frame_unref)                                                                      \
  X(av_frame_move_ref)                                                                   \
  X(av_frame_clone)                                                                      \
  X(av_frame_get_buffer)                                                                 \
  X(av_frame_make_writable)                                                              \
  X(av_frame_copy_props)                                                                 \
  X(av_frame_apply_cropping)                                                           \
  X(av_get_pix_fmt)                                                                      \
  X(av_get_pix_fmt_name)                                                                 \
  X(av_pix_fmt_desc_get)                                                                 \
  X(av_pix_fmt_desc_get_id)                                                              \
  X(av_pix_fmt_desc_next)                                                                \
  X(av_get_bits_per_pixel)                                                               \
  X(av_get_sample_fmt)                                                                   \
  X(av_get_sample_fmt_name)                                                              \
  X(av_get_sample_fmt_string)                                                            \
  X(av_get_bytes_per_sample)                                                             \
  X(av_sample_fmt_is_planar)                                                             \
  X(av_get_packed_sample_fmt)                                                            \
  X(av_samples_alloc)                                                                    \
  X(av_samples_get_buffer_size)                                                          \
  X(av_samples_set_silence)                                                              \
  X(av_samples_copy)                                                                     \
  X(av_image_alloc)                                                                      \
  X(av_image_fill_arrays)                                                                \
  X(av_image_fill_linesizes)                                                             \
  X(av_image_get_buffer_size)                                                            \
  X(av_image_copy)                                                                       \
  X(av_audio_fifo_alloc)                                                                 \
  X(av_audio_fifo_free)                                                                  \
  X(av_audio_fifo_write)                                                                 \
  X(av_audio_fifo_read)                                                                  \
  X(av_audio_fifo_size)                                                                  \
  X(av_audio_fifo_drain)                                                                 \
  X(av_audio_fifo_reset)                                                                 \
  X(av_channel_layout_default)                                                           \
  X(av_channel_layout_from_mask)                                                         \
  X(av_channel_layout_copy)                                                              \
  X(av_channel_layout_compare)                                                           \
  X(av_channel_layout_describe)                                                          \
  X(av_channel_layout_uninit)

#define TOVI_AVUTIL_VARIABLES(X) X(av_util_ffversion)

// ---- swscale (kind 5) -------------------------------------------------------------
#define TOVI_SWSCALE_FUNCTIONS(X)                                                        \
  X(swscale_version)                                                                     \
  X(sws_get_class)                                                                       \
  X(sws_getContext)                                                                      \
  X(sws_getCachedContext)                                                                \
  X(sws_scale)                                                                           \
  X(sws_freeContext)

#define TOVI_SWSCALE_VARIABLES(X)

// ---- C runtime (kind 6) -----------------------------------------------------------
#define TOVI_CRT_FUNCTIONS(X)                                                            \
  X(fopen)                                                                               \
  X(fclose)                                                                              \
  X(fread)                                                                               \
  X(fwrite)                                                                              \
  X(fseek)                                                                               \
  X(ftell)                                                                               \
  X(fprintf)                                                                             \
  X(snprintf)                                                                            \
  X(vsnprintf)                                                                           \
  X(strtod)                                                                              \
  X(strtol)                                                                              \
  X(strtok_r)

#define TOVI_CRT_VARIABLES(X)

// ---- SDL2 (kind 7) ----------------------------------------------------------------
#define TOVI_SDL_FUNCTIONS(X)                                                            \
  X(SDL_GetVersion)                                                                      \
  X(SDL_Init)                                                                            \
  X(SDL_InitSubSystem)                                                                   \
  X(SDL_QuitSubSystem)                                                                   \
  X(SDL_WasInit)                                                                         \
  X(SDL_Quit)                                                                            \
  X(SDL_GetError)                                                                        \
  X(SDL_SetHint)                                                                         \
  X(SDL_setenv)                                                                          \
  X(SDL_GetTicks)                                                                        \
  X(SDL_Delay)                                                                           \
  X(SDL_AddTimer)                                                                        \
  X(SDL_RemoveTimer)                                                                     \
  X(SDL_RegisterEvents)                                                                  \
  X(SDL_PushEvent)                                                                       \
  X(SDL_PollEvent)                                                                       \
  X(SDL_WaitEvent)                                                                       \
  X(SDL_WaitEventTimeout)                                                                \
  X(SDL_EventState)                                                                      \
  X(SDL_FlushEvents)                                                                     \
  X(SDL_CreateWindow)                                                                    \
  X(SDL_CreateWindowFrom)                                                                \
  X(SDL_DestroyWindow)                                                                   \
  X(SDL_GetWindowID)                                                                     \
  X(SDL_SetWindowTitle)                                                                  \
  X(SDL_SetWindowSize)                                                                   \
  X(SDL_GetWindowSize)                                                                   \
  X(SDL_GetWindowPixelFormat)                                                            \
  X(SDL_ShowWindow)                                                                      \
  X(SDL_CreateRenderer)                                                                  \
  X(SDL_DestroyRenderer)                                                                 \
  X(SDL_GetRendererOutputSize)                                                           \
  X(SDL_GetRendererInfo)                                                                 \
  X(SDL_SetRenderDrawColor)                                                              \
  X(SDL_RenderClear)                                                                     \
  X(SDL_RenderFillRect)                                                                  \
  X(SDL_RenderCopy)                                                                      \
  X(SDL_RenderPresent)                                                                   \
  X(SDL_CreateTexture)                                                                   \
  X(SDL_DestroyTexture)                                                                  \
  X(SDL_UpdateTexture)                                                                   \
  X(SDL_UpdateYUVTexture)                                                                \
  X(SDL_LockTexture)                                                                     \
  X(SDL_UnlockTexture)                                                                   \
  X(SDL_SetTextureBlendMode)                                                             \
  X(SDL_OpenAudioDevice)                                                                 \
  X(SDL_CloseAudioDevice)                                                                \
  X(SDL_PauseAudioDevice)                                                                \
  X(SDL_LockAudioDevice)                                                                 \
  X(SDL_UnlockAudioDevice)                                                               \
  X(SDL_MixAudioFormat)                                                                  \
  X(SDL_GetCurrentAudioDriver)                                                           \
  X(SDL_GetCurrentVideoDriver)                                                           \
  X(SDL_CreateRGBSurfaceWithFormat)                                                      \
  X(SDL_FreeSurface)                                                                     \
  X(SDL_CreateSoftwareRenderer)

#define TOVI_SDL_VARIABLES(X)

// ---- swresample (kind 8) ----------------------------------------------------------
#define TOVI_SWRESAMPLE_FUNCTIONS(X)                                                     \
  X(swresample_version)                                                                  \
  X(swr_get_class)                                                                       \
  X(swr_alloc)                                                                           \
  X(swr_alloc_set_opts2)                                                                 \
  X(swr_init)                                                                            \
  X(swr_is_initialized)                                                                  \
  X(swr_free)                                                                            \
  X(swr_convert)                                                                         \
  X(swr_get_delay)                                                                       \
  X(swr_get_out_samples)                                                                 \
  X(swr_set_compensation)                                                                \
  X(swr_inject_silence)                                                                  \
  X(swr_drop_output)                                                                     \
  X(swr_next_pts)

#define TOVI_SWRESAMPLE_VARIABLES(X) X(swr_ffversion)
// clang-format on
