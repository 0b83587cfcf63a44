%LIDARREAD  Load the lidar packets of a recorded session (pcap or pcapng file).
%
%   [points, imu, info] = lidarread(file)
%   [points, imu, info] = lidarread(file, window)
%   [points, imu, info] = lidarread(file, window, lidar)
%
%   file    character vector: a capture written by cloudpump --record, Wireshark, dumpcap or
%           tcpdump (classic pcap or pcapng; Ethernet, raw IP or Linux cooked link layers).
%           For a string, pass char(file).
%   window  [] for the whole capture, or [t0 t1]: seconds after the capture's first datagram,
%           both ends included (-Inf and Inf for open ends).
%   lidar   '' for every lidar, or one lidar's IPv4 address, like '192.168.1.50'.
%
%   points  one row per point record of every point packet (data types 1-3), in capture order,
%           exactly as lidarstream returns them for the live stream:
%             1-3  the record's three values (type 1: three int32; type 2: three int16;
%                  type 3: one uint32 and two uint16)
%             4-5  its two attribute bytes
%             6    the packet's timestamp (its header's 64-bit time)
%             7    handle: the lidar's IPv4 address as a number in network byte order
%                  (for 127.0.0.10 that is 127 + 10 * 2^24)
%             8    data type
%   imu     one row per IMU packet (data type 0):
%             1    packet timestamp   2  handle   3-8  the six IMU values
%   Packets longer than the live stream keeps (1380 bytes) give the rows of their first 1380
%   bytes, as in lidarstream.
%
%   info    struct describing the whole capture (the filters do not change it, except where
%           said):
%             file           the file name as given
%             first_time     time of the capture's first datagram, seconds since 1970 (UTC);
%                            NaN when the capture holds no datagram
%             last_time      the latest datagram time, likewise
%             datagrams      UDP datagrams in the capture
%             point_packets  point packets returned (after the window and lidar filters)
%             imu_packets    IMU packets returned (after the filters)
%             lidars         N x 1 struct array, one element per lidar in order of first
%                            appearance (struct2table(info.lidars) makes a table of it):
%                              address        text, like '192.168.1.50'
%                              dev_type       device type from the lidar's discovery reply
%                                             in the capture, 0 without one
%                              serial         serial number from that reply, '' without one
%                              point_packets  its point packets in the whole capture
%                              imu_packets    its IMU packets in the whole capture
%                              first_time     its first and last datagram times, seconds
%                              last_time      since 1970
%
%   Errors (identifier: cause):
%     lidarread:usage        not one to three inputs, or more than three outputs
%     lidarread:fileName     the file name is not a non-empty character vector
%     lidarread:window       the window is not [] or [t0 t1] with t0 <= t1 and no NaN
%     lidarread:lidar        the lidar is not text, or not a dotted IPv4 address
%     lidarread:cannotOpen   the file cannot be opened (missing, no permission)
%     lidarread:notCapture   not a pcap or pcapng file, or damaged before its first datagram,
%                            or a link layer the reader does not know
%     lidarread:damaged      damage (truncated block, impossible length) after good packets;
%                            nothing is returned, the message says where the damage starts
%     lidarread:noSuchLidar  the chosen lidar is not in the capture (the message lists those
%                            that are)
%     lidarread:outOfMemory  the packets do not fit into memory; use a window or one lidar
%
%   The file is read once, front to back, without holding it whole in memory; the returned
%   packets are kept until the matrices are made.
%
%   Example:
%     [points, imu, info] = lidarread('drive.pcapng', [10 20], '192.168.1.50');
%     plot3(points(:, 1), points(:, 2), points(:, 3), '.');
%
%   See also LIDARSTREAM.

% This file is the help text only: the MEX plug-in of the same name, in the same folder, is
% what runs.
error('lidarread:noPlugin', 'the lidarread MEX plug-in is not on the path (see help lidarread)');
