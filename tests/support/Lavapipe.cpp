#include "support/Lavapipe.h"

#include <vulkan/vulkan.h>

#include <cstring>
#include <functional>

namespace testsupport {

namespace {

// Releases what one draw made, last made first, however the draw ends.
class Cleanup {
public:
    ~Cleanup() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it)
            (*it)();
    }
    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }

private:
    std::vector<std::function<void()>> steps_;
};

#define VK_TRY(call)                                                            \
    do {                                                                        \
        VkResult result_ = (call);                                              \
        if (result_ != VK_SUCCESS) {                                            \
            error = std::string(#call) + " failed: " + std::to_string(result_); \
            return false;                                                       \
        }                                                                       \
    } while (0)

// A Vulkan create-info record, cleared, of the given type.
template <class T>
T Info(VkStructureType type) {
    T info{};
    info.sType = type;
    return info;
}

}  // namespace

struct Lavapipe::Device {
    VkInstance instance = VK_NULL_HANDLE;
    VkPhysicalDevice physical = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue queue = VK_NULL_HANDLE;
    uint32_t queueFamily = 0;
    VkCommandPool pool = VK_NULL_HANDLE;

    ~Device() {
        if (pool)
            vkDestroyCommandPool(device, pool, nullptr);
        if (device)
            vkDestroyDevice(device, nullptr);
        if (instance)
            vkDestroyInstance(instance, nullptr);
    }

    bool Open(std::string& error) {
        auto app = Info<VkApplicationInfo>(VK_STRUCTURE_TYPE_APPLICATION_INFO);
        app.pApplicationName = "vantrel-tests";
        app.apiVersion = VK_API_VERSION_1_0;
        auto instanceInfo = Info<VkInstanceCreateInfo>(VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO);
        instanceInfo.pApplicationInfo = &app;
        VK_TRY(vkCreateInstance(&instanceInfo, nullptr, &instance));

        // Lavapipe by name: a hardware driver that happens to be installed is never taken.
        uint32_t count = 0;
        VK_TRY(vkEnumeratePhysicalDevices(instance, &count, nullptr));
        std::vector<VkPhysicalDevice> devices(count);
        VK_TRY(vkEnumeratePhysicalDevices(instance, &count, devices.data()));
        for (VkPhysicalDevice candidate : devices) {
            VkPhysicalDeviceProperties properties;
            vkGetPhysicalDeviceProperties(candidate, &properties);
            if (properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU &&
                std::strstr(properties.deviceName, "llvmpipe"))
                physical = candidate;
        }
        if (!physical) {
            error = "no lavapipe device among " + std::to_string(count) +
                    " Vulkan devices (Debian's mesa-vulkan-drivers; scripts/deps installs it)";
            return false;
        }

        uint32_t families = 0;
        vkGetPhysicalDeviceQueueFamilyProperties(physical, &families, nullptr);
        std::vector<VkQueueFamilyProperties> familyProperties(families);
        vkGetPhysicalDeviceQueueFamilyProperties(physical, &families, familyProperties.data());
        queueFamily = families;
        for (uint32_t i = 0; i < families && queueFamily == families; ++i)
            if (familyProperties[i].queueFlags & VK_QUEUE_GRAPHICS_BIT)
                queueFamily = i;
        if (queueFamily == families) {
            error = "lavapipe offers no graphics queue";
            return false;
        }
        float priority = 1.0f;
        auto queueInfo = Info<VkDeviceQueueCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO);
        queueInfo.queueFamilyIndex = queueFamily;
        queueInfo.queueCount = 1;
        queueInfo.pQueuePriorities = &priority;
        auto deviceInfo = Info<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO);
        deviceInfo.queueCreateInfoCount = 1;
        deviceInfo.pQueueCreateInfos = &queueInfo;
        VK_TRY(vkCreateDevice(physical, &deviceInfo, nullptr, &device));
        vkGetDeviceQueue(device, queueFamily, 0, &queue);
        auto poolInfo = Info<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
        poolInfo.queueFamilyIndex = queueFamily;
        VK_TRY(vkCreateCommandPool(device, &poolInfo, nullptr, &pool));
        return true;
    }

    // Memory of a type that `requirements` allows, with `flags`.
    bool Allocate(const VkMemoryRequirements& requirements, VkMemoryPropertyFlags flags,
                  Cleanup& cleanup, VkDeviceMemory& memory, std::string& error) {
        VkPhysicalDeviceMemoryProperties properties;
        vkGetPhysicalDeviceMemoryProperties(physical, &properties);
        uint32_t type = properties.memoryTypeCount;
        for (uint32_t i = 0; i < properties.memoryTypeCount && type == properties.memoryTypeCount;
             ++i)
            if ((requirements.memoryTypeBits & (1u << i)) &&
                (properties.memoryTypes[i].propertyFlags & flags) == flags)
                type = i;
        if (type == properties.memoryTypeCount) {
            error = "no suitable memory type";
            return false;
        }
        auto info = Info<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
        info.allocationSize = requirements.size;
        info.memoryTypeIndex = type;
        VK_TRY(vkAllocateMemory(device, &info, nullptr, &memory));
        VkDevice d = device;
        cleanup.Add([d, memory] { vkFreeMemory(d, memory, nullptr); });
        return true;
    }

    // A host-visible buffer, filled from `data` when given.
    bool MakeBuffer(VkDeviceSize size, VkBufferUsageFlags usage, const void* data, Cleanup& cleanup,
                    VkBuffer& buffer, VkDeviceMemory& memory, std::string& error) {
        auto info = Info<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO);
        info.size = size;
        info.usage = usage;
        VK_TRY(vkCreateBuffer(device, &info, nullptr, &buffer));
        VkDevice d = device;
        cleanup.Add([d, buffer] { vkDestroyBuffer(d, buffer, nullptr); });
        VkMemoryRequirements requirements;
        vkGetBufferMemoryRequirements(device, buffer, &requirements);
        if (!Allocate(requirements,
                      VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
                      cleanup, memory, error))
            return false;
        VK_TRY(vkBindBufferMemory(device, buffer, memory, 0));
        if (data) {
            void* mapped = nullptr;
            VK_TRY(vkMapMemory(device, memory, 0, size, 0, &mapped));
            std::memcpy(mapped, data, static_cast<size_t>(size));
            vkUnmapMemory(device, memory);
        }
        return true;
    }

    bool MakeImage(unsigned width, unsigned height, VkImageUsageFlags usage, Cleanup& cleanup,
                   VkImage& image, VkImageView& view, std::string& error) {
        auto info = Info<VkImageCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO);
        info.imageType = VK_IMAGE_TYPE_2D;
        info.format = VK_FORMAT_R8G8B8A8_UNORM;
        info.extent = {width, height, 1};
        info.mipLevels = 1;
        info.arrayLayers = 1;
        info.samples = VK_SAMPLE_COUNT_1_BIT;
        info.tiling = VK_IMAGE_TILING_OPTIMAL;
        info.usage = usage;
        info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
        VK_TRY(vkCreateImage(device, &info, nullptr, &image));
        VkDevice d = device;
        cleanup.Add([d, image] { vkDestroyImage(d, image, nullptr); });
        VkMemoryRequirements requirements;
        vkGetImageMemoryRequirements(device, image, &requirements);
        VkDeviceMemory memory;
        if (!Allocate(requirements, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT, cleanup, memory, error))
            return false;
        VK_TRY(vkBindImageMemory(device, image, memory, 0));
        auto viewInfo = Info<VkImageViewCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO);
        viewInfo.image = image;
        viewInfo.viewType = VK_IMAGE_VIEW_TYPE_2D;
        viewInfo.format = VK_FORMAT_R8G8B8A8_UNORM;
        viewInfo.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
        VK_TRY(vkCreateImageView(device, &viewInfo, nullptr, &view));
        cleanup.Add([d, view] { vkDestroyImageView(d, view, nullptr); });
        return true;
    }

    bool MakeShader(const std::vector<uint32_t>& spirv, Cleanup& cleanup, VkShaderModule& module,
                    std::string& error) {
        auto info = Info<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
        info.codeSize = spirv.size() * sizeof(uint32_t);
        info.pCode = spirv.data();
        VK_TRY(vkCreateShaderModule(device, &info, nullptr, &module));
        VkDevice d = device;
        cleanup.Add([d, module] { vkDestroyShaderModule(d, module, nullptr); });
        return true;
    }
};

namespace {

void Barrier(VkCommandBuffer commands, VkImage image, VkImageLayout from, VkImageLayout to,
             VkAccessFlags before, VkAccessFlags after, VkPipelineStageFlags beforeStage,
             VkPipelineStageFlags afterStage) {
    auto barrier = Info<VkImageMemoryBarrier>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER);
    barrier.srcAccessMask = before;
    barrier.dstAccessMask = after;
    barrier.oldLayout = from;
    barrier.newLayout = to;
    barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = image;
    barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdPipelineBarrier(commands, beforeStage, afterStage, 0, 0, nullptr, 0, nullptr, 1, &barrier);
}

}  // namespace

Lavapipe::Lavapipe() : device_(new Device) {
    if (!device_->Open(error_))
        device_.reset();
}

Lavapipe::~Lavapipe() = default;

bool Lavapipe::Draw(const std::vector<uint32_t>& vertexSpirv,
                    const std::vector<uint32_t>& pixelSpirv, const RgbaImage& texture,
                    const std::vector<uint8_t>& uniforms, bool linear, RgbaImage& target,
                    std::string& error) {
    if (!device_) {
        error = error_;
        return false;
    }
    if (texture.pixels.size() != size_t(texture.width) * texture.height * 4 ||
        texture.pixels.empty() || uniforms.empty() || target.width == 0 || target.height == 0) {
        error = "empty texture, target or uniforms";
        return false;
    }
    Device& g = *device_;
    VkDevice d = g.device;
    Cleanup cleanup;

    VkShaderModule vertex, pixel;
    if (!g.MakeShader(vertexSpirv, cleanup, vertex, error) ||
        !g.MakeShader(pixelSpirv, cleanup, pixel, error))
        return false;

    // The texture, through a staging buffer; the target, read back through another.
    VkImage textureImage, targetImage;
    VkImageView textureView, targetView;
    if (!g.MakeImage(texture.width, texture.height,
                     VK_IMAGE_USAGE_TRANSFER_DST_BIT | VK_IMAGE_USAGE_SAMPLED_BIT, cleanup,
                     textureImage, textureView, error) ||
        !g.MakeImage(target.width, target.height,
                     VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT, cleanup,
                     targetImage, targetView, error))
        return false;
    VkBuffer staging, uniformBuffer, readback;
    VkDeviceMemory stagingMemory, uniformMemory, readbackMemory;
    const VkDeviceSize targetBytes = VkDeviceSize(target.width) * target.height * 4;
    if (!g.MakeBuffer(texture.pixels.size(), VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                      texture.pixels.data(), cleanup, staging, stagingMemory, error) ||
        !g.MakeBuffer(uniforms.size(), VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, uniforms.data(), cleanup,
                      uniformBuffer, uniformMemory, error) ||
        !g.MakeBuffer(targetBytes, VK_BUFFER_USAGE_TRANSFER_DST_BIT, nullptr, cleanup, readback,
                      readbackMemory, error))
        return false;

    auto samplerInfo = Info<VkSamplerCreateInfo>(VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO);
    samplerInfo.magFilter = samplerInfo.minFilter = linear ? VK_FILTER_LINEAR : VK_FILTER_NEAREST;
    samplerInfo.mipmapMode = VK_SAMPLER_MIPMAP_MODE_NEAREST;
    samplerInfo.addressModeU = samplerInfo.addressModeV = samplerInfo.addressModeW =
        VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
    VkSampler sampler;
    VK_TRY(vkCreateSampler(d, &samplerInfo, nullptr, &sampler));
    cleanup.Add([d, sampler] { vkDestroySampler(d, sampler, nullptr); });

    const VkDescriptorType types[3] = {VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE,
                                       VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER,
                                       VK_DESCRIPTOR_TYPE_SAMPLER};
    VkDescriptorSetLayoutBinding bindings[3] = {};
    VkDescriptorPoolSize poolSizes[3] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        bindings[i].binding = i;
        bindings[i].descriptorType = types[i];
        bindings[i].descriptorCount = 1;
        bindings[i].stageFlags = VK_SHADER_STAGE_FRAGMENT_BIT;
        poolSizes[i] = {types[i], 1};
    }
    auto layoutInfo =
        Info<VkDescriptorSetLayoutCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
    layoutInfo.bindingCount = 3;
    layoutInfo.pBindings = bindings;
    VkDescriptorSetLayout setLayout;
    VK_TRY(vkCreateDescriptorSetLayout(d, &layoutInfo, nullptr, &setLayout));
    cleanup.Add([d, setLayout] { vkDestroyDescriptorSetLayout(d, setLayout, nullptr); });
    auto poolInfo = Info<VkDescriptorPoolCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO);
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 3;
    poolInfo.pPoolSizes = poolSizes;
    VkDescriptorPool descriptorPool;
    VK_TRY(vkCreateDescriptorPool(d, &poolInfo, nullptr, &descriptorPool));
    cleanup.Add([d, descriptorPool] { vkDestroyDescriptorPool(d, descriptorPool, nullptr); });
    auto setInfo =
        Info<VkDescriptorSetAllocateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO);
    setInfo.descriptorPool = descriptorPool;
    setInfo.descriptorSetCount = 1;
    setInfo.pSetLayouts = &setLayout;
    VkDescriptorSet set;
    VK_TRY(vkAllocateDescriptorSets(d, &setInfo, &set));
    VkDescriptorImageInfo imageDescriptor = {VK_NULL_HANDLE, textureView,
                                             VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL};
    VkDescriptorBufferInfo bufferDescriptor = {uniformBuffer, 0, uniforms.size()};
    VkDescriptorImageInfo samplerDescriptor = {sampler, VK_NULL_HANDLE, VK_IMAGE_LAYOUT_UNDEFINED};
    VkWriteDescriptorSet writes[3] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        writes[i].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        writes[i].dstSet = set;
        writes[i].dstBinding = i;
        writes[i].descriptorCount = 1;
        writes[i].descriptorType = types[i];
    }
    writes[0].pImageInfo = &imageDescriptor;
    writes[1].pBufferInfo = &bufferDescriptor;
    writes[2].pImageInfo = &samplerDescriptor;
    vkUpdateDescriptorSets(d, 3, writes, 0, nullptr);

    VkAttachmentDescription attachment = {};
    attachment.format = VK_FORMAT_R8G8B8A8_UNORM;
    attachment.samples = VK_SAMPLE_COUNT_1_BIT;
    attachment.loadOp = VK_ATTACHMENT_LOAD_OP_CLEAR;
    attachment.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    attachment.stencilLoadOp = VK_ATTACHMENT_LOAD_OP_DONT_CARE;
    attachment.stencilStoreOp = VK_ATTACHMENT_STORE_OP_DONT_CARE;
    attachment.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    attachment.finalLayout = VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL;
    VkAttachmentReference colorRef = {0, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL};
    VkSubpassDescription subpass = {};
    subpass.pipelineBindPoint = VK_PIPELINE_BIND_POINT_GRAPHICS;
    subpass.colorAttachmentCount = 1;
    subpass.pColorAttachments = &colorRef;
    VkSubpassDependency after = {};
    after.srcSubpass = 0;
    after.dstSubpass = VK_SUBPASS_EXTERNAL;
    after.srcStageMask = VK_PIPELINE_STAGE_COLOR_ATTACHMENT_OUTPUT_BIT;
    after.dstStageMask = VK_PIPELINE_STAGE_TRANSFER_BIT;
    after.srcAccessMask = VK_ACCESS_COLOR_ATTACHMENT_WRITE_BIT;
    after.dstAccessMask = VK_ACCESS_TRANSFER_READ_BIT;
    auto passInfo = Info<VkRenderPassCreateInfo>(VK_STRUCTURE_TYPE_RENDER_PASS_CREATE_INFO);
    passInfo.attachmentCount = 1;
    passInfo.pAttachments = &attachment;
    passInfo.subpassCount = 1;
    passInfo.pSubpasses = &subpass;
    passInfo.dependencyCount = 1;
    passInfo.pDependencies = &after;
    VkRenderPass pass;
    VK_TRY(vkCreateRenderPass(d, &passInfo, nullptr, &pass));
    cleanup.Add([d, pass] { vkDestroyRenderPass(d, pass, nullptr); });
    auto framebufferInfo = Info<VkFramebufferCreateInfo>(VK_STRUCTURE_TYPE_FRAMEBUFFER_CREATE_INFO);
    framebufferInfo.renderPass = pass;
    framebufferInfo.attachmentCount = 1;
    framebufferInfo.pAttachments = &targetView;
    framebufferInfo.width = target.width;
    framebufferInfo.height = target.height;
    framebufferInfo.layers = 1;
    VkFramebuffer framebuffer;
    VK_TRY(vkCreateFramebuffer(d, &framebufferInfo, nullptr, &framebuffer));
    cleanup.Add([d, framebuffer] { vkDestroyFramebuffer(d, framebuffer, nullptr); });

    auto pipelineLayoutInfo =
        Info<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    pipelineLayoutInfo.setLayoutCount = 1;
    pipelineLayoutInfo.pSetLayouts = &setLayout;
    VkPipelineLayout pipelineLayout;
    VK_TRY(vkCreatePipelineLayout(d, &pipelineLayoutInfo, nullptr, &pipelineLayout));
    cleanup.Add([d, pipelineLayout] { vkDestroyPipelineLayout(d, pipelineLayout, nullptr); });

    VkPipelineShaderStageCreateInfo stages[2] = {};
    stages[0].sType = stages[1].sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
    stages[0].module = vertex;
    stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
    stages[1].module = pixel;
    stages[0].pName = stages[1].pName = "main";
    auto vertexInput = Info<VkPipelineVertexInputStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO);
    auto assembly = Info<VkPipelineInputAssemblyStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO);
    assembly.topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
    VkViewport viewport = {0, 0, float(target.width), float(target.height), 0, 1};
    VkRect2D scissor = {{0, 0}, {target.width, target.height}};
    auto viewportState = Info<VkPipelineViewportStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO);
    viewportState.viewportCount = 1;
    viewportState.pViewports = &viewport;
    viewportState.scissorCount = 1;
    viewportState.pScissors = &scissor;
    auto raster = Info<VkPipelineRasterizationStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO);
    raster.polygonMode = VK_POLYGON_MODE_FILL;
    raster.cullMode = VK_CULL_MODE_NONE;
    raster.lineWidth = 1.0f;
    auto multisample = Info<VkPipelineMultisampleStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO);
    multisample.rasterizationSamples = VK_SAMPLE_COUNT_1_BIT;
    VkPipelineColorBlendAttachmentState blend = {};
    blend.blendEnable = VK_TRUE;
    blend.srcColorBlendFactor = VK_BLEND_FACTOR_SRC_ALPHA;
    blend.dstColorBlendFactor = VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA;
    blend.colorBlendOp = VK_BLEND_OP_ADD;
    blend.srcAlphaBlendFactor = VK_BLEND_FACTOR_ONE;
    blend.dstAlphaBlendFactor = VK_BLEND_FACTOR_ONE_MINUS_SRC_ALPHA;
    blend.alphaBlendOp = VK_BLEND_OP_ADD;
    blend.colorWriteMask = VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT |
                           VK_COLOR_COMPONENT_B_BIT | VK_COLOR_COMPONENT_A_BIT;
    auto blendState = Info<VkPipelineColorBlendStateCreateInfo>(
        VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO);
    blendState.attachmentCount = 1;
    blendState.pAttachments = &blend;
    auto pipelineInfo =
        Info<VkGraphicsPipelineCreateInfo>(VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO);
    pipelineInfo.stageCount = 2;
    pipelineInfo.pStages = stages;
    pipelineInfo.pVertexInputState = &vertexInput;
    pipelineInfo.pInputAssemblyState = &assembly;
    pipelineInfo.pViewportState = &viewportState;
    pipelineInfo.pRasterizationState = &raster;
    pipelineInfo.pMultisampleState = &multisample;
    pipelineInfo.pColorBlendState = &blendState;
    pipelineInfo.layout = pipelineLayout;
    pipelineInfo.renderPass = pass;
    VkPipeline pipeline;
    VK_TRY(vkCreateGraphicsPipelines(d, VK_NULL_HANDLE, 1, &pipelineInfo, nullptr, &pipeline));
    cleanup.Add([d, pipeline] { vkDestroyPipeline(d, pipeline, nullptr); });

    auto commandInfo =
        Info<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
    commandInfo.commandPool = g.pool;
    commandInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    commandInfo.commandBufferCount = 1;
    VkCommandBuffer commands;
    VK_TRY(vkAllocateCommandBuffers(d, &commandInfo, &commands));
    VkCommandPool pool = g.pool;
    cleanup.Add([d, pool, commands] { vkFreeCommandBuffers(d, pool, 1, &commands); });
    auto begin = Info<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    VK_TRY(vkBeginCommandBuffer(commands, &begin));
    Barrier(commands, textureImage, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
            0, VK_ACCESS_TRANSFER_WRITE_BIT, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT,
            VK_PIPELINE_STAGE_TRANSFER_BIT);
    VkBufferImageCopy upload = {};
    upload.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    upload.imageExtent = {texture.width, texture.height, 1};
    vkCmdCopyBufferToImage(commands, staging, textureImage, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1,
                           &upload);
    Barrier(commands, textureImage, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
            VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL, VK_ACCESS_TRANSFER_WRITE_BIT,
            VK_ACCESS_SHADER_READ_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT,
            VK_PIPELINE_STAGE_FRAGMENT_SHADER_BIT);
    VkClearValue clear = {};
    auto passBegin = Info<VkRenderPassBeginInfo>(VK_STRUCTURE_TYPE_RENDER_PASS_BEGIN_INFO);
    passBegin.renderPass = pass;
    passBegin.framebuffer = framebuffer;
    passBegin.renderArea = scissor;
    passBegin.clearValueCount = 1;
    passBegin.pClearValues = &clear;
    vkCmdBeginRenderPass(commands, &passBegin, VK_SUBPASS_CONTENTS_INLINE);
    vkCmdBindPipeline(commands, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
    vkCmdBindDescriptorSets(commands, VK_PIPELINE_BIND_POINT_GRAPHICS, pipelineLayout, 0, 1, &set,
                            0, nullptr);
    vkCmdDraw(commands, 3, 1, 0, 0);
    vkCmdEndRenderPass(commands);
    VkBufferImageCopy download = {};
    download.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    download.imageExtent = {target.width, target.height, 1};
    vkCmdCopyImageToBuffer(commands, targetImage, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, readback, 1,
                           &download);
    VK_TRY(vkEndCommandBuffer(commands));

    auto fenceInfo = Info<VkFenceCreateInfo>(VK_STRUCTURE_TYPE_FENCE_CREATE_INFO);
    VkFence fence;
    VK_TRY(vkCreateFence(d, &fenceInfo, nullptr, &fence));
    cleanup.Add([d, fence] { vkDestroyFence(d, fence, nullptr); });
    auto submit = Info<VkSubmitInfo>(VK_STRUCTURE_TYPE_SUBMIT_INFO);
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &commands;
    VK_TRY(vkQueueSubmit(g.queue, 1, &submit, fence));
    VK_TRY(vkWaitForFences(d, 1, &fence, VK_TRUE, UINT64_MAX));

    void* mapped = nullptr;
    VK_TRY(vkMapMemory(d, readbackMemory, 0, targetBytes, 0, &mapped));
    target.pixels.assign(static_cast<const uint8_t*>(mapped),
                         static_cast<const uint8_t*>(mapped) + targetBytes);
    vkUnmapMemory(d, readbackMemory);
    return true;
}

}  // namespace testsupport
